#pragma once
// Who a connection really comes from when a reverse proxy (nginx) stands in front of the
// servers: the proxy's own address is the same for every player, so the limits per peer would
// hold all of them as one. The proxy names the client in a PROXY protocol header (service
// port) or in X-Forwarded-For / X-Real-IP (tool port). Those are believed only from the
// proxies the vendor named; from anyone else they are ignored, or a client could name itself
// anybody and escape every limit.

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/network_v4.hpp>
#include <boost/asio/ip/network_v6.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TrustedProxies
{
public:
    // An address ("127.0.0.1", "::1") or a network ("10.0.0.0/8"); false when it is neither.
    bool Add(std::string_view text);
    bool Contains(std::string_view address) const;
    bool Empty() const { return m_v4.empty() && m_v6.empty(); }

private:
    std::vector<boost::asio::ip::network_v4> m_v4;
    std::vector<boost::asio::ip::network_v6> m_v6;
};

// An address as the limits and the log key it: IPv4 written the usual way, even when mapped
// into IPv6; "" when `text` is not an address.
std::string CanonicalAddress(std::string_view text);
std::string CanonicalAddress(const boost::asio::ip::address& address);

// The start of a connection from a trusted proxy.
struct ProxyHeader
{
    enum class State {
        NeedMore, // too little has arrived to tell
        Absent,   // the bytes do not start with a PROXY header
        Invalid,  // they start like one that is malformed
        Complete,
    };
    State state = State::NeedMore;
    std::size_t length = 0; // of the header, when complete
    std::string client;     // the client's address; "" for a proxy's own (LOCAL, UNKNOWN) connection
};

// Reads a PROXY protocol header, version 1 (text) or 2 (binary), at the start of `bytes`.
ProxyHeader ParseProxyHeader(std::string_view bytes);

// The client a trusted proxy forwarded an HTTP request for: the last X-Forwarded-For entry
// that is not itself a trusted proxy (the entries before it are the client's own word), else
// X-Real-IP; "" when neither names an address. `headers` are (name, value) in arrival order.
std::string ForwardedClient(const std::vector<std::pair<std::string, std::string>>& headers,
                            const TrustedProxies& trusted);
