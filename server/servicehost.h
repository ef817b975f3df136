#pragma once
// The service host: answers the program's update checks and logins over TCP. One request and
// one reply per connection; a bad, oversized or silent request is answered "no" and closed.
// Connections are served by a fixed pool of worker threads.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class Accounts;

class ServiceHost
{
public:
    using Log = std::function<void(const std::string&)>;

    struct Config {
        std::string host = "127.0.0.1";
        int port = 3130; // 0: any free port, see Port()
        std::string versionsFile;
        int workers = 8;
        int receiveTimeoutMs = 5000;
    };

    ServiceHost(Accounts& accounts, Config config, Log log);
    ~ServiceHost();
    ServiceHost(const ServiceHost&) = delete;
    ServiceHost& operator=(const ServiceHost&) = delete;

    bool Start(std::string* error);
    void Stop();
    int Port() const { return port_; }

    // The reply bytes for one request text (up to its first zero byte).
    std::string Answer(std::string_view requestText, const std::string& peer);

private:
    void AcceptLoop();
    void WorkerLoop();
    void Serve(int fd, const std::string& peer);
    std::string Refusal(std::string_view code, std::string_view mac);

    Accounts& accounts_;
    Config config_;
    Log log_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::thread> workers_;
    std::mutex queueMutex_;
    std::condition_variable queueReady_;
    std::deque<std::pair<int, std::string>> queue_;
    std::set<int> active_; // connections being served, cut short by Stop()
};
