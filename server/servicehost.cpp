#include "servicehost.h"

#include "accounts.h"
#include "hashpool.h"
#include "names.h"
#include "netloop.h"
#include "serviceprotocol.h"
#include "versioncatalogue.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <array>

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t kMaxDrainBytes = 1 << 20;
constexpr std::size_t kMaxEchoedMac = 64;
constexpr auto kReplyTime = std::chrono::seconds(5);
constexpr auto kDrainTime = std::chrono::seconds(1);

// Field 2 of a reply repeats the client's MAC text, unless it is too long to be one.
std::string echoedMac(std::string_view mac)
{
    return mac.size() <= kMaxEchoedMac ? std::string(mac) : std::string();
}

std::string refusal(std::string_view code, std::string_view mac)
{
    const std::string replyCode = code.size() == 2 ? std::string(code) : std::string("00");
    if (auto reply = svc::BuildReply(replyCode, {echoedMac(mac), "0"}))
        return *reply;
    return *svc::BuildReply("00", {"", "0"});
}

} // namespace

struct ServiceHost::Private
{
    // Declared first so that it goes last: connections still queued in it refer to the rest.
    NetServer net;
    HashPool hashes;
    PeerRate logins;
    LoginBackoff backoff;
    Accounts& accounts;
    const Config& config;
    const Log& log;

    Private(Accounts& a, const Config& c, const Log& l)
        : net(c.maxConnectionsPerPeer, c.maxConnections, c.trustedProxies)
        , hashes({c.hashThreads, 1024, 64})
        , logins(c.loginsPerSecond, c.loginBurst)
        , backoff(c.backoff, a)
        , accounts(a)
        , config(c)
        , log(l)
    {
    }

    // The reply to an update check, or nothing for a login, which is answered through `login`.
    std::string UpdateReply(const svc::Request& r, const std::string& peer);
};

namespace {

// One connection: the request up to its first zero byte (or what arrived when the client
// stopped, fell silent or sent too much), one reply, then a short drain and close.
class ServiceSession : public std::enable_shared_from_this<ServiceSession>
{
public:
    ServiceSession(tcp::socket socket, std::string peer, PeerConnections::Slot slot,
                   ServiceHost::Private& host)
        : m_socket(std::move(socket))
        , m_timer(m_socket.get_executor())
        , m_peer(std::move(peer))
        , m_slot(std::move(slot))
        , m_host(host)
        , m_awaitingProxyHeader(host.net.Trusted()->Contains(m_peer))
    {
    }

    void Start()
    {
        m_timer.expires_after(std::chrono::milliseconds(m_host.config.receiveTimeoutMs));
        m_timer.async_wait([self = shared_from_this()](boost::system::error_code ec) {
            if (!ec)
                self->m_socket.cancel(); // the pending read ends and what arrived is answered
        });
        Read();
    }

private:
    void Read()
    {
        m_socket.async_read_some(
            net::buffer(m_chunk), [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                self->m_request.append(self->m_chunk.data(), n);
                if (self->m_awaitingProxyHeader && !self->TakeProxyHeader(ec))
                    return;
                if (const std::size_t zero = self->m_request.find('\0'); zero != std::string::npos) {
                    self->m_request.resize(zero);
                    return self->Answer();
                }
                if (self->m_request.size() > svc::kMaxRequestBytes) {
                    self->m_host.log("service " + self->m_peer + " refused: oversized request");
                    return self->Reply(refusal("00", {}));
                }
                if (ec)
                    return self->Answer(); // closed, timed out or failed: answer what arrived
                self->Read();
            });
    }

    // A trusted proxy's connection starts with a PROXY header naming the client, which from then
    // on is the peer: in the log, the limits and the pool's turns. False while the header is
    // incomplete (reading goes on) or when the connection was refused.
    bool TakeProxyHeader(boost::system::error_code ec)
    {
        const ProxyHeader header = ParseProxyHeader(m_request);
        switch (header.state) {
        case ProxyHeader::State::NeedMore:
            if (!ec) {
                Read();
                return false;
            }
            [[fallthrough]];
        case ProxyHeader::State::Invalid:
            m_host.log("service " + m_peer + " refused: malformed PROXY header");
            Reply(refusal("00", {}));
            return false;
        case ProxyHeader::State::Absent: // the proxy's own connection
            m_awaitingProxyHeader = false;
            return true;
        case ProxyHeader::State::Complete:
            break;
        }
        m_awaitingProxyHeader = false;
        m_request.erase(0, header.length);
        if (header.client.empty())
            return true;
        auto slot = m_host.net.Connections()->Take(header.client);
        if (!slot) {
            m_host.log("service " + header.client + " (through " + m_peer
                       + ") refused: over the connection caps");
            boost::system::error_code closeEc;
            m_timer.cancel();
            m_socket.close(closeEc);
            return false;
        }
        m_slot = std::move(*slot);
        m_peer = header.client;
        return true;
    }

    void Answer()
    {
        m_timer.cancel();
        const svc::ParseResult parsed = svc::ParseRequest(m_request);
        if (!parsed.request) {
            m_host.log("service " + m_peer + " refused: " + parsed.error);
            return Reply(refusal(parsed.code, parsed.mac));
        }
        const svc::Request& r = *parsed.request;
        if (r.code != svc::kLoginCode)
            return Reply(m_host.UpdateReply(r, m_peer));

        const std::string user = r.fields[2];
        const std::string password = r.fields[3];
        const std::string mac = r.fields[0];
        const std::string refused = refusal(r.code, mac);
        const std::string said = "service " + m_peer + " login \"" + names::ForLog(user) + "\" ";
        if (!m_host.logins.Allow(m_peer)) {
            m_host.log(said + "refused: too many logins from this address");
            return Reply(refused);
        }
        // The counters are read and written on the pool's thread, beside the hash, so a slow
        // database never holds up the loop. The job hands its hold on the connection back to
        // the loop, so the connection never ends on a pool thread.
        auto job = [self = shared_from_this(), user, password, mac, refused, said]() mutable {
            ServiceHost::Private& host = self->m_host;
            const auto attempt = host.backoff.Begin(user, self->m_peer);
            bool ok = false;
            if (attempt.verdict == LoginBackoff::Verdict::Check) {
                ok = host.accounts.Check(user, password);
                host.backoff.End(attempt, self->m_peer, true, ok);
                host.log(said + (ok ? "accepted" : "refused"));
            } else {
                // Said as any refusal is: the protocol has no other answer for "wait".
                host.log(said + "refused: " + LoginBackoff::Describe(attempt.verdict));
            }
            const auto executor = self->m_socket.get_executor();
            net::post(executor, [self = std::move(self), mac, refused, ok] {
                const auto yes = ok ? svc::BuildReply(svc::kLoginCode, {echoedMac(mac), "1"}) : std::nullopt;
                self->Reply(yes.value_or(refused));
            });
        };
        if (!m_host.hashes.Submit(m_peer, std::move(job))) {
            m_host.log(said + "refused: too many logins waiting");
            Reply(refused);
        }
    }

    void Reply(std::string reply)
    {
        m_reply = std::move(reply);
        m_timer.expires_after(kReplyTime);
        m_timer.async_wait([self = shared_from_this()](boost::system::error_code ec) {
            if (!ec)
                self->m_socket.close(ec); // a client that takes neither reply nor close
        });
        net::async_write(m_socket, net::buffer(m_reply),
                         [self = shared_from_this()](boost::system::error_code ec, std::size_t) {
                             if (ec) {
                                 self->m_timer.cancel();
                                 return;
                             }
                             // Read what the client still sends before closing: closing with unread data
                             // would reset the connection and could destroy the reply before the client has
                             // read it.
                             self->m_socket.shutdown(tcp::socket::shutdown_send, ec);
                             self->m_timer.expires_after(
                                 kDrainTime); // cancels the reply's wait, starts the drain's
                             self->m_timer.async_wait([self](boost::system::error_code waitEc) {
                                 if (!waitEc)
                                     self->m_socket.close(waitEc);
                             });
                             self->Drain();
                         });
    }

    void Drain()
    {
        m_socket.async_read_some(net::buffer(m_chunk),
                                 [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                                     self->m_drained += n;
                                     if (!ec && self->m_drained < kMaxDrainBytes)
                                         return self->Drain();
                                     self->m_timer.cancel();
                                 });
    }

    tcp::socket m_socket;
    net::steady_timer m_timer;
    std::string m_peer;
    PeerConnections::Slot m_slot;
    ServiceHost::Private& m_host;
    std::array<char, 1024> m_chunk{};
    std::string m_request;
    std::string m_reply;
    std::size_t m_drained = 0;
    bool m_awaitingProxyHeader = false;
};

} // namespace

std::string ServiceHost::Private::UpdateReply(const svc::Request& r, const std::string& peer)
{
    const std::string& mac = r.fields[0];
    const std::string& sertime = r.fields[2];
    const std::string& version = r.fields[3];
    std::string error;
    const auto release = LoadRelease(config.versionsFile, &error);
    if (!release) {
        log("service " + peer + " update check: " + error);
        return refusal(r.code, mac);
    }
    if (!IsOlder(version, sertime, *release)) {
        log("service " + peer + " update check \"" + names::ForLog(version) + "\" is current");
        return refusal(r.code, mac);
    }
    auto reply = svc::BuildReply(
        r.code, {echoedMac(mac), "1", release->sertime, release->version, release->clientadd});
    if (!reply) {
        log("service " + peer + " update check: the release does not fit a reply");
        return refusal(r.code, mac);
    }
    log("service " + peer + " update check \"" + names::ForLog(version) + "\" -> " + release->version);
    return *reply;
}

ServiceHost::ServiceHost(Accounts& accounts, Config config, Log log)
    : m_accounts(accounts)
    , m_config(std::move(config))
    , m_log(std::move(log))
{
}

ServiceHost::~ServiceHost()
{
    Stop();
}

bool ServiceHost::Start(std::string* error)
{
    auto impl = std::make_unique<Private>(m_accounts, m_config, m_log);
    Private* state = impl.get();
    auto accepted = [state](tcp::socket socket, const std::string& peer, PeerConnections::Slot slot) {
        std::make_shared<ServiceSession>(std::move(socket), peer, std::move(slot), *state)->Start();
    };
    if (!state->net.Open("service", m_config.host, m_config.port, accepted, m_log, error))
        return false;
    m_port = state->net.Port();
    state->net.Start(m_log);
    d = std::move(impl);
    return true;
}

void ServiceHost::Stop()
{
    if (!d)
        return;
    d->net.Stop();
    d->hashes.Stop(); // after the loop: a dropped job may hold the last use of a connection
    d.reset();
}
