#pragma once
// The tool server over HTTP: the tool page and its assets from the web folder, the pack
// catalogue, packs and the repair archive (with range requests), the resource site page, and
// the forum's help and registration pages. Connections are served by one event loop with a
// deadline for every request head and idle pause, size limits on heads and forms, and a cap on
// connections per peer; registrations hash their password on a separate thread.

#include "clientaddress.h"
#include "httpmessage.h"

#include <functional>
#include <memory>
#include <string>

class Accounts;
class HashPool;
class PeerRate;

class ToolServer
{
public:
    using Log = std::function<void(const std::string&)>;

    struct Config
    {
        std::string host = "127.0.0.1";
        int port = 8088; // 0: any free port, see Port()
        std::string dataDir;
        std::string webDir;
        HttpLimits limits = {};
        int maxConnectionsPerPeer = 64; // a browser opens 6 per host, plus downloads, plus a NAT
        int maxConnections = 10000;
        double registrationsPerSecond = 2; // per peer, after a burst of registrationBurst
        double registrationBurst = 10;
        TrustedProxies trustedProxies; // whose X-Forwarded-For / X-Real-IP name the client
        // Where players reach the tool server ("https://tools.example.com"): the base of the
        // links in the catalogue and the resource site. "" for the listening address, or links
        // relative to the page when listening on every address; never the request's Host, which
        // anyone can set and a shared cache would keep for everybody.
        std::string publicUrl;
    };

    // A public URL as Config takes it: http(s)://authority[/path] with a trailing '/' dropped;
    // "" when `text` is not of that form.
    static std::string NormalPublicUrl(std::string_view text);

    ToolServer(Accounts& accounts, Config config, Log log);
    ~ToolServer();
    ToolServer(const ToolServer&) = delete;
    ToolServer& operator=(const ToolServer&) = delete;

    bool Start(std::string* error);
    void Stop();
    int Port() const { return m_port; }

private:
    struct Private;
    void Register(const HttpRequest& req, const std::function<void(HttpReply)>& reply, PeerRate& pace,
                  HashPool& hashes);

    Accounts& m_accounts;
    Config m_config;
    Log m_log;
    std::unique_ptr<Private> d;
    int m_port = 0;
};
