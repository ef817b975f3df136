#pragma once
// One connection of the tool server. Reads request heads and bodies within deadlines and size
// limits, hands each request to the routes and writes their reply, streaming file slices.
// A head that is too large or has too many fields gets 431, a malformed one 400, a body over
// the limit 413; a client too slow for a deadline is dropped without an answer.

#include "clientaddress.h"
#include "httpmessage.h"
#include "peerlimits.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What every connection of one server shares.
struct HttpService
{
    using Reply = std::function<void(HttpReply)>; // may be called from any thread, once
    using Handler = std::function<void(const HttpRequest&, Reply)>;
    using Log = std::function<void(const std::string&)>;

    HttpLimits limits;
    Handler handler;
    Log log;
    // Requests from these name their client in X-Forwarded-For / X-Real-IP; the connection is
    // then counted under that client in `connections`.
    std::shared_ptr<const TrustedProxies> trusted = std::make_shared<TrustedProxies>();
    std::shared_ptr<PeerConnections> connections;
};

class HttpSession : public std::enable_shared_from_this<HttpSession>
{
public:
    HttpSession(boost::asio::ip::tcp::socket socket, std::string peer, PeerConnections::Slot slot,
                std::shared_ptr<const HttpService> service);
    void Start();

private:
    using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;

    void ReadHead();
    void OnHead(boost::system::error_code ec);
    void OnBody(boost::system::error_code ec);
    void Dispatch();
    bool TakeForwardedClient(const HttpFields& headers);
    void Refuse(int status, const std::string& why);
    void Send(HttpReply reply);
    void SendFilePiece();
    void Finish();
    void AwaitNext();
    void Shutdown();
    void Drain();

    boost::beast::tcp_stream m_stream;
    boost::asio::steady_timer m_writeTimer; // while a file waits for room in the socket
    boost::beast::flat_buffer m_buffer;
    std::optional<Parser> m_parser;
    std::string m_peer;  // the client of the request being answered
    std::string m_proxy; // the connection's own peer when it is a trusted proxy
    PeerConnections::Slot m_slot;
    std::shared_ptr<const HttpService> m_service;

    std::string m_method; // of the request being answered
    bool m_keepAlive = false;
    int m_served = 0;
    HttpReply m_reply;
    std::string m_out;
    std::uint64_t m_fileLeft = 0;
    std::uint64_t m_fileOffset = 0;
    std::vector<char> m_chunk;
    std::size_t m_drained = 0;
};
