#pragma once
// The event loop the tool server and the service host each run their connections on, and the
// listening socket that hands accepted connections to them. One thread runs the loop, so the
// connections' handlers never run at the same time and need no locks; anything slow (password
// hashes) goes to a HashPool and posts its result back.

#include "clientaddress.h"
#include "peerlimits.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class NetLoop
{
public:
    NetLoop();
    ~NetLoop();
    NetLoop(const NetLoop&) = delete;
    NetLoop& operator=(const NetLoop&) = delete;

    using Log = std::function<void(const std::string&)>;

    boost::asio::io_context& Context() { return m_context; }
    // A handler that throws is logged and the loop goes on: one bad request must not stop it.
    void Start(Log log);
    // Stops the thread; connections still open are dropped with the loop's destruction.
    void Stop();

private:
    boost::asio::io_context m_context;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> m_work;
    std::thread m_thread;
};

// Accepts connections and hands each to `Accepted` with its peer address and the place it
// holds in the peer's connection count; connections over a cap are closed at once. A trusted
// proxy's connections count only towards the total: the session counts each again under the
// client it learns the proxy is carrying.
class Listener : public std::enable_shared_from_this<Listener>
{
public:
    using Log = std::function<void(const std::string&)>;
    using Accepted =
        std::function<void(boost::asio::ip::tcp::socket, const std::string& peer, PeerConnections::Slot)>;

    Listener(boost::asio::io_context& context, std::shared_ptr<PeerConnections> connections,
             std::shared_ptr<const TrustedProxies> trusted, Accepted accepted, Log log);

    // Binds `host:port` (port 0: any free one); false with a message in `error`.
    bool Open(const std::string& host, int port, std::string* error);
    int Port() const { return m_port; }
    void Start();
    void Close();

private:
    void Accept();
    void Refused(const std::string& peer);

    boost::asio::io_context& m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    boost::asio::steady_timer m_retry;
    std::shared_ptr<PeerConnections> m_connections;
    std::shared_ptr<const TrustedProxies> m_trusted;
    Accepted m_accepted;
    Log m_log;
    int m_port = 0;
    int m_refused = 0;
    std::chrono::steady_clock::time_point m_lastReport;
};

// What the tool server and the service host each run on: their event loop, their connection
// caps, the proxies they trust and their listener, started and stopped together.
class NetServer
{
public:
    NetServer(int maxConnectionsPerPeer, int maxConnections, const TrustedProxies& trusted);
    ~NetServer();
    NetServer(const NetServer&) = delete;
    NetServer& operator=(const NetServer&) = delete;

    boost::asio::io_context& Context() { return m_loop.Context(); }
    const std::shared_ptr<PeerConnections>& Connections() const { return m_connections; }
    const std::shared_ptr<const TrustedProxies>& Trusted() const { return m_trusted; }

    // Binds `host:port` (port 0: any free one) for `accepted`; false with "<name> port
    // host:port: why" in `error`. Nothing is accepted before Start, so what depends on the
    // port can be settled in between.
    bool Open(const std::string& name, const std::string& host, int port, Listener::Accepted accepted,
              const Listener::Log& log, std::string* error);
    void Start(const Listener::Log& log);
    int Port() const { return m_port; }
    // Stops accepting, then the loop; connections still open are dropped with the object.
    void Stop();

private:
    NetLoop m_loop; // declared first so that it goes last: its queued handlers hold the rest
    std::shared_ptr<PeerConnections> m_connections;
    std::shared_ptr<const TrustedProxies> m_trusted;
    std::shared_ptr<Listener> m_listener;
    int m_port = 0;
};

// The address of a connection's peer, IPv4 addresses written the usual way even when mapped.
std::string PeerAddress(const boost::asio::ip::tcp::endpoint& endpoint);
