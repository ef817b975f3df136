#include "httpsession.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>

#include <sys/sendfile.h>
#include <sys/socket.h>

#include <cerrno>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::uint64_t kFileTurn = 1024 * 1024; // sent for one connection before the others' turn
constexpr std::size_t kMaxDrainBytes = 64 * 1024;
constexpr auto kDrainTime = std::chrono::seconds(1);

std::string statusLine(int status)
{
    const beast::string_view reason = http::obsolete_reason(
        http::int_to_status(static_cast<unsigned>(status)));
    return "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason.empty() ? "Unknown" : reason)
        + "\r\n";
}

bool hasBody(int status, const std::string& method)
{
    return method != "HEAD" && status >= 200 && status != 204 && status != 304;
}

// A request that ends because the client closed, reset or we shut down: nobody to answer, and
// nothing worth a log line, whether it happens in the head or the body.
bool clientWentAway(boost::system::error_code ec)
{
    return ec == http::error::end_of_stream || ec == http::error::partial_message || ec == net::error::eof
        || ec == net::error::connection_reset || ec == net::error::broken_pipe
        || ec == net::error::operation_aborted;
}

// The path part of an origin-form or absolute-form target.
std::string_view pathOf(std::string_view target)
{
    if (target.starts_with("http://") || target.starts_with("https://")) {
        const std::size_t slash = target.find('/', target.find("//") + 2);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    return target.substr(0, target.find('?'));
}

} // namespace

HttpSession::HttpSession(net::ip::tcp::socket socket, std::string peer, PeerConnections::Slot slot,
                         std::shared_ptr<const HttpService> service)
    : m_stream(std::move(socket))
    , m_writeTimer(m_stream.get_executor())
    , m_buffer(service->limits.maxHeadBytes + service->limits.maxBodyBytes + 4096)
    , m_peer(std::move(peer))
    , m_slot(std::move(slot))
    , m_service(std::move(service))
{
    if (m_service->trusted->Contains(m_peer))
        m_proxy = m_peer;
}

void HttpSession::Start()
{
    // The first head's deadline runs from the connection, so a client that connects and waits
    // gets no longer than one that dribbles its head.
    m_stream.expires_after(m_service->limits.head);
    ReadHead();
}

void HttpSession::ReadHead()
{
    m_parser.emplace();
    m_parser->header_limit(static_cast<std::uint32_t>(m_service->limits.maxHeadBytes));
    m_parser->body_limit(m_service->limits.maxBodyBytes);
    http::async_read_header(
        m_stream, m_buffer, *m_parser,
        [self = shared_from_this()](boost::system::error_code ec, std::size_t) { self->OnHead(ec); });
}

void HttpSession::OnHead(boost::system::error_code ec)
{
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
        return Refuse(431, "request head too large");
    if (ec == http::error::body_limit) // told by Content-Length, before any of the body
        return Refuse(413, "request body too large");
    if (ec == beast::error::timeout) {
        m_service->log("http " + m_peer + " dropped: no complete request head in time");
        return; // the stream has closed the socket
    }
    if (clientWentAway(ec))
        return;
    if (ec)
        return Refuse(400, "malformed request: " + ec.message());
    const auto& head = m_parser->get();
    if (static_cast<std::size_t>(std::distance(head.begin(), head.end())) > m_service->limits.maxHeaderFields)
        return Refuse(431, "too many header fields");
    if (const auto length = m_parser->content_length(); length && *length > m_service->limits.maxBodyBytes)
        return Refuse(413, "request body too large");
    if (m_parser->is_done())
        return Dispatch();

    m_stream.expires_after(m_service->limits.body);
    const auto expect = head[http::field::expect];
    if (beast::iequals(expect, "100-continue")) {
        m_out = "HTTP/1.1 100 Continue\r\n\r\n";
        net::async_write(m_stream, net::buffer(m_out),
                         [self = shared_from_this()](boost::system::error_code wec, std::size_t) {
                             if (!wec)
                                 http::async_read(self->m_stream, self->m_buffer, *self->m_parser,
                                                  [self](boost::system::error_code rec, std::size_t) {
                                                      self->OnBody(rec);
                                                  });
                         });
        return;
    }
    http::async_read(
        m_stream, m_buffer, *m_parser,
        [self = shared_from_this()](boost::system::error_code rec, std::size_t) { self->OnBody(rec); });
}

void HttpSession::OnBody(boost::system::error_code ec)
{
    if (ec == http::error::body_limit)
        return Refuse(413, "request body too large");
    if (ec == beast::error::timeout) {
        m_service->log("http " + m_peer + " dropped: request body not complete in time");
        return;
    }
    if (clientWentAway(ec))
        return;
    if (ec)
        return Refuse(400, "malformed request body: " + ec.message());
    Dispatch();
}

void HttpSession::Dispatch()
{
    auto& message = m_parser->get();
    HttpRequest request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    m_method = request.method;
    for (const auto& field : message)
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    if (!m_proxy.empty() && !TakeForwardedClient(request.headers))
        return;
    request.peer = m_peer;
    const std::string_view rawPath = pathOf(request.target);
    request.path = PercentDecode(rawPath, false);
    if (!request.path.starts_with('/'))
        return Refuse(400, "bad request target");
    if (!IsCleanPath(request.path))
        return Refuse(400, "control character in path");
    if (const std::size_t query = request.target.find('?'); query != std::string::npos)
        ParseForm(std::string_view(request.target).substr(query + 1), request.params);
    request.body = std::move(message.body());
    if (request.method == "POST"
        && beast::iequals(request.Header("Content-Type").substr(0, 33), "application/x-www-form-urlencoded"))
        ParseForm(request.body, request.params);
    m_keepAlive = message.keep_alive();

    // The handler may answer from another thread; the reply is sent from this connection's
    // loop. The callback keeps the connection alive until then.
    auto executor = m_stream.get_executor();
    m_service->handler(request, [self = shared_from_this(), executor](HttpReply reply) {
        net::post(executor, [self, reply = std::move(reply)]() mutable { self->Send(std::move(reply)); });
    });
}

// Each request through a proxy may be another client's (nginx reuses its connections), so the
// connection moves to each request's client in the counts; a client over its cap is refused.
bool HttpSession::TakeForwardedClient(const HttpFields& headers)
{
    std::string client = ForwardedClient(headers, *m_service->trusted);
    if (client.empty())
        client = m_proxy;
    if (client == m_slot.Peer()) {
        m_peer = client;
        return true;
    }
    auto slot = m_service->connections->Take(client, client != m_proxy);
    m_peer = client;
    if (!slot) {
        Refuse(503, "over the connection caps (through " + m_proxy + ")");
        return false;
    }
    m_slot = std::move(*slot);
    return true;
}

void HttpSession::Refuse(int status, const std::string& why)
{
    m_service->log("http " + m_peer + " refused (" + std::to_string(status) + "): " + why);
    if (m_method.empty())
        m_method = "GET";
    m_keepAlive = false;
    HttpReply reply = HttpReply::Text(status,
                                      std::string(http::obsolete_reason(http::int_to_status(status))) + "\n",
                                      "text/plain; charset=utf-8");
    reply.close = true;
    Send(std::move(reply));
}

void HttpSession::Send(HttpReply reply)
{
    m_reply = std::move(reply);
    if (m_parser && m_parser->is_header_done() && !m_reply.close)
        m_service->log("http " + m_peer + " " + m_method + " " + std::string(m_parser->get().target()) + " "
                       + std::to_string(m_reply.status));
    m_keepAlive = m_keepAlive && !m_reply.close && ++m_served < m_service->limits.maxRequests;

    const bool body = hasBody(m_reply.status, m_method);
    const std::uint64_t length = m_reply.file ? m_reply.file->length : m_reply.body.size();
    m_out = statusLine(m_reply.status);
    for (const auto& [name, value] : m_reply.headers)
        m_out += name + ": " + value + "\r\n";
    if (m_reply.status >= 200 && m_reply.status != 204 && m_reply.status != 304)
        m_out += "Content-Length: " + std::to_string(length) + "\r\n";
    m_out += m_keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    m_fileLeft = 0;
    if (body && m_reply.file) {
        m_fileLeft = m_reply.file->length;
        m_fileOffset = m_reply.file->offset;
    } else if (body) {
        m_out += m_reply.body;
    }
    // Most heads fit the socket's buffer at once: sent now, with a file's first bytes joining
    // them in one segment (MSG_MORE), the reply costs no trip through the loop.
    auto& socket = m_stream.socket();
    boost::system::error_code ec;
    socket.native_non_blocking(true, ec);
    std::size_t sent = 0;
    if (!ec) {
        const ssize_t n = ::send(socket.native_handle(), m_out.data(), m_out.size(),
                                 MSG_NOSIGNAL | (m_fileLeft > 0 ? MSG_MORE : 0));
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return; // the client has gone
        sent = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    if (sent == m_out.size())
        return SendFilePiece();
    m_stream.expires_after(m_service->limits.write);
    net::async_write(m_stream, net::buffer(m_out.data() + sent, m_out.size() - sent),
                     [self = shared_from_this()](boost::system::error_code wec, std::size_t) {
                         if (!wec)
                             self->SendFilePiece();
                     });
}

// The file goes from the page cache to the socket with sendfile(2): no buffer per connection,
// so thousands of slow readers of a large pack cost only their sockets. When the socket is
// full the connection waits for room, no longer than the write deadline.
void HttpSession::SendFilePiece()
{
    auto& socket = m_stream.socket();
    std::uint64_t thisTurn = 0;
    while (m_fileLeft > 0) {
        if (thisTurn >= kFileTurn) { // a fast reader lets the other connections have the loop
            net::post(m_stream.get_executor(), [self = shared_from_this()] { self->SendFilePiece(); });
            return;
        }
        auto offset = static_cast<off_t>(m_fileOffset);
        const ssize_t n = ::sendfile(
            socket.native_handle(), m_reply.file->file->Fd(), &offset,
            static_cast<std::size_t>(std::min<std::uint64_t>(m_fileLeft, kFileTurn)));
        if (n > 0) {
            m_fileOffset += static_cast<std::uint64_t>(n);
            m_fileLeft -= static_cast<std::uint64_t>(n);
            thisTurn += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n == 0) {
            // The file shrank under us: the promised length cannot be kept, so the connection ends.
            m_service->log("http " + m_peer + " file ended early; connection closed");
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return; // the client has gone
        m_writeTimer.expires_after(m_service->limits.write);
        m_writeTimer.async_wait([self = shared_from_this()](boost::system::error_code ec) {
            if (!ec) { // no room for a whole deadline: the client has stopped reading
                boost::system::error_code closeEc;
                self->m_stream.socket().close(closeEc);
            }
        });
        socket.async_wait(net::ip::tcp::socket::wait_write,
                          [self = shared_from_this()](boost::system::error_code ec) {
                              self->m_writeTimer.cancel();
                              if (!ec)
                                  self->SendFilePiece();
                          });
        return;
    }
    m_reply.file.reset();
    Finish();
}

void HttpSession::Finish()
{
    m_chunk.clear();
    m_chunk.shrink_to_fit();
    if (m_keepAlive)
        AwaitNext();
    else
        Shutdown();
}

void HttpSession::AwaitNext()
{
    m_parser.reset();
    m_method.clear();
    if (m_buffer.size() > 0) { // the client sent its next request already
        m_stream.expires_after(m_service->limits.head);
        return ReadHead();
    }
    m_stream.expires_after(m_service->limits.idle);
    m_stream.async_read_some(m_buffer.prepare(512),
                             [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                                 if (ec)
                                     return; // closed, or idle too long (the stream closed the socket)
                                 self->m_buffer.commit(n);
                                 self->m_stream.expires_after(self->m_service->limits.head);
                                 self->ReadHead();
                             });
}

// Closing with unread data would reset the connection and could destroy the reply before
// the client has read it, so what the client still sends is read (a little, briefly) first.
void HttpSession::Shutdown()
{
    boost::system::error_code ec;
    m_stream.socket().shutdown(net::ip::tcp::socket::shutdown_send, ec);
    if (ec)
        return;
    m_stream.expires_after(kDrainTime);
    m_drained = 0;
    m_chunk.resize(4096);
    Drain();
}

void HttpSession::Drain()
{
    m_stream.async_read_some(net::buffer(m_chunk),
                             [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                                 self->m_drained += n;
                                 if (!ec && self->m_drained < kMaxDrainBytes)
                                     self->Drain();
                             });
}
