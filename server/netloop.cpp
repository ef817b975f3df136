#include "netloop.h"

#include <boost/asio/post.hpp>

#include <csignal>

namespace net = boost::asio;
using tcp = net::ip::tcp;

NetLoop::NetLoop() = default;

NetLoop::~NetLoop()
{
    Stop();
}

void NetLoop::Start(Log log)
{
    m_work.emplace(m_context.get_executor());
    m_thread = std::thread([this, log = std::move(log)] {
        // sendfile(2) to a client that has gone raises SIGPIPE, which would end the process;
        // blocked here, the call reports EPIPE instead, and nothing else in the process changes.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        for (;;) {
            try {
                m_context.run();
                return;
            } catch (const std::exception& e) {
                log(std::string("event loop: a handler failed: ") + e.what());
            }
        }
    });
}

void NetLoop::Stop()
{
    m_work.reset();
    m_context.stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string PeerAddress(const tcp::endpoint& endpoint)
{
    return CanonicalAddress(endpoint.address());
}

Listener::Listener(net::io_context& context, std::shared_ptr<PeerConnections> connections,
                   std::shared_ptr<const TrustedProxies> trusted, Accepted accepted, Log log)
    : m_context(context)
    , m_acceptor(context)
    , m_retry(context)
    , m_connections(std::move(connections))
    , m_trusted(std::move(trusted))
    , m_accepted(std::move(accepted))
    , m_log(std::move(log))
{
}

bool Listener::Open(const std::string& host, int port, std::string* error)
{
    boost::system::error_code ec;
    net::ip::address address = net::ip::make_address(host, ec);
    if (ec) { // a host name: its first address
        tcp::resolver resolver(m_context);
        const auto found = resolver.resolve(host, std::to_string(port), ec);
        if (!ec && !found.empty())
            address = found.begin()->endpoint().address();
    }
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    if (!ec)
        m_acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        m_acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        m_acceptor.bind(endpoint, ec);
    if (!ec)
        m_acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        if (error)
            *error = host + ":" + std::to_string(port) + ": " + ec.message();
        m_acceptor.close(ec);
        return false;
    }
    m_port = m_acceptor.local_endpoint(ec).port();
    return true;
}

void Listener::Start()
{
    net::post(m_context, [self = shared_from_this()] { self->Accept(); });
}

void Listener::Close()
{
    // Runs on the loop's thread when it runs; closing from outside races the pending accept.
    net::post(m_context, [self = shared_from_this()] {
        boost::system::error_code ec;
        self->m_acceptor.close(ec);
        self->m_retry.cancel();
    });
}

// One line per second at most: a flood of refused connections must not become a flood of log.
void Listener::Refused(const std::string& peer)
{
    ++m_refused;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastReport < std::chrono::seconds(1))
        return;
    m_lastReport = now;
    m_log("refused " + std::to_string(m_refused) + " connection(s) over the connection caps, last from "
          + peer);
    m_refused = 0;
}

void Listener::Accept()
{
    m_acceptor.async_accept([self = shared_from_this()](boost::system::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !self->m_acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors (or a passing fault): try again shortly instead of spinning.
            self->m_log("accept: " + ec.message());
            self->m_retry.expires_after(std::chrono::milliseconds(50));
            self->m_retry.async_wait([self](boost::system::error_code waitEc) {
                if (!waitEc)
                    self->Accept();
            });
            return;
        }
        boost::system::error_code peerEc;
        const tcp::endpoint remote = socket.remote_endpoint(peerEc);
        if (!peerEc) {
            const std::string peer = PeerAddress(remote);
            const bool proxy = self->m_trusted && self->m_trusted->Contains(peer);
            if (auto slot = self->m_connections->Take(peer, !proxy)) {
                socket.set_option(tcp::no_delay(true), peerEc);
                self->m_accepted(std::move(socket), peer, std::move(*slot));
            } else {
                self->Refused(peer); // `socket` closes as it goes out of scope
            }
        }
        self->Accept();
    });
}

NetServer::NetServer(int maxConnectionsPerPeer, int maxConnections, const TrustedProxies& trusted)
    : m_connections(std::make_shared<PeerConnections>(maxConnectionsPerPeer, maxConnections))
    , m_trusted(std::make_shared<const TrustedProxies>(trusted))
{
}

NetServer::~NetServer()
{
    Stop();
}

bool NetServer::Open(const std::string& name, const std::string& host, int port, Listener::Accepted accepted,
                     const Listener::Log& log, std::string* error)
{
    m_listener = std::make_shared<Listener>(m_loop.Context(), m_connections, m_trusted, std::move(accepted),
                                            log);
    std::string problem;
    if (!m_listener->Open(host, port, &problem)) {
        if (error)
            *error = name + " port " + problem;
        m_listener.reset();
        return false;
    }
    m_port = m_listener->Port();
    return true;
}

void NetServer::Start(const Listener::Log& log)
{
    m_listener->Start();
    m_loop.Start(log);
}

void NetServer::Stop()
{
    if (m_listener)
        m_listener->Close();
    m_loop.Stop();
}
