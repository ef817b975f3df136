#pragma once
// The service host: answers the program's update checks and logins over TCP. One request and
// one reply per connection; a bad, oversized or silent request is answered "no" and closed.
// Connections are served by one event loop, so silent clients cost a socket each and hold up
// nobody; password checks run on a bounded pool served in turn per peer. Logins over a peer's
// rate, held by the login back-off (loginbackoff.h), or when the pool is full are answered
// "no" without a check and logged: the protocol has no other way to say "slow down".

#include "clientaddress.h"
#include "loginbackoff.h"

#include <functional>
#include <memory>
#include <string>

class Accounts;

class ServiceHost
{
public:
    using Log = std::function<void(const std::string&)>;

    struct Config
    {
        std::string host = "127.0.0.1";
        int port = 3130; // 0: any free port, see Port()
        std::string versionsFile;
        int receiveTimeoutMs = 5000; // for the whole request, from connecting
        int hashThreads = 0;         // 0: one per processor core
        int maxConnectionsPerPeer = 32;
        int maxConnections = 10000;
        double loginsPerSecond = 25; // per peer, after a burst of loginBurst
        double loginBurst = 50;
        LoginBackoff::Policy backoff = {};
        TrustedProxies trustedProxies; // whose PROXY headers name the client
    };

    ServiceHost(Accounts& accounts, Config config, Log log);
    ~ServiceHost();
    ServiceHost(const ServiceHost&) = delete;
    ServiceHost& operator=(const ServiceHost&) = delete;

    bool Start(std::string* error);
    void Stop();
    int Port() const { return m_port; }

    struct Private; // the running host, the implementation's own

private:
    Accounts& m_accounts;
    Config m_config;
    Log m_log;
    std::unique_ptr<Private> d;
    int m_port = 0;
};
