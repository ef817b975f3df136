#pragma once
// The tool server over HTTP: the tool page and its assets from the web folder, the pack
// catalogue, packs and the repair archive (with range requests), the resource site page, and
// the forum's help and registration pages.

#include <functional>
#include <memory>
#include <string>
#include <thread>

class Accounts;
namespace httplib { class Server; }

class ToolServer
{
public:
    using Log = std::function<void(const std::string&)>;

    struct Config {
        std::string host = "127.0.0.1";
        int port = 8088; // 0: any free port, see Port()
        std::string dataDir;
        std::string webDir;
    };

    ToolServer(Accounts& accounts, Config config, Log log);
    ~ToolServer();
    ToolServer(const ToolServer&) = delete;
    ToolServer& operator=(const ToolServer&) = delete;

    bool Start(std::string* error);
    void Stop();
    int Port() const { return port_; }

private:
    void Routes();
    std::string Ours() const; // "host:port" we listen on

    Accounts& accounts_;
    Config config_;
    Log log_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};
