#include "clientaddress.h"

#include <boost/asio/ip/address_v6.hpp>
#include <boost/asio/ip/network_v4.hpp>
#include <boost/beast/core/string.hpp>

#include <algorithm>
#include <array>
#include <cstring>

namespace ip = boost::asio::ip;

namespace {

constexpr std::size_t kV1MaxBytes = 107; // the longest a version 1 header may be, CRLF included
constexpr std::array<unsigned char, 12> kV2Signature = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                                        0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t space = line.find(' ', start);
        out.push_back(line.substr(start, space - start));
        if (space == std::string_view::npos)
            break;
        start = space + 1;
    }
    return out;
}

ProxyHeader parseV1(std::string_view bytes)
{
    ProxyHeader header;
    const std::size_t end = bytes.find("\r\n");
    if (end == std::string_view::npos) {
        header.state = bytes.size() >= kV1MaxBytes ? ProxyHeader::State::Invalid
                                                   : ProxyHeader::State::NeedMore;
        return header;
    }
    header.state = ProxyHeader::State::Invalid;
    if (end + 2 > kV1MaxBytes)
        return header;
    const auto parts = words(bytes.substr(0, end));
    if (parts.size() >= 2 && parts[1] == "UNKNOWN") {
        header.state = ProxyHeader::State::Complete;
        header.length = end + 2;
        return header;
    }
    if (parts.size() != 6 || (parts[1] != "TCP4" && parts[1] != "TCP6"))
        return header;
    boost::system::error_code ec;
    const ip::address source = ip::make_address(std::string(parts[2]), ec);
    if (ec || source.is_v4() != (parts[1] == "TCP4"))
        return header;
    header.state = ProxyHeader::State::Complete;
    header.length = end + 2;
    header.client = CanonicalAddress(source);
    return header;
}

ProxyHeader parseV2(std::string_view bytes)
{
    ProxyHeader header;
    if (bytes.size() < 16)
        return header;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t length = 16 + ((std::size_t(b[14]) << 8) | b[15]);
    header.state = ProxyHeader::State::Invalid;
    const unsigned version = b[12] >> 4, command = b[12] & 0x0F, family = b[13] >> 4;
    if (version != 2 || command > 1)
        return header;
    if (bytes.size() < length) {
        header.state = ProxyHeader::State::NeedMore;
        return header;
    }
    header.state = ProxyHeader::State::Complete;
    header.length = length;
    if (command == 0) // LOCAL: the proxy's own connection, a health check
        return header;
    if (family == 1 && length >= 16 + 12) {
        ip::address_v4::bytes_type raw;
        std::memcpy(raw.data(), b + 16, raw.size());
        header.client = CanonicalAddress(ip::address_v4(raw));
    } else if (family == 2 && length >= 16 + 36) {
        ip::address_v6::bytes_type raw;
        std::memcpy(raw.data(), b + 16, raw.size());
        header.client = CanonicalAddress(ip::address_v6(raw));
    } else if (family != 0) { // UNSPEC carries no address; anything else is not TCP over IP
        header.state = ProxyHeader::State::Invalid;
    }
    return header;
}

} // namespace

bool TrustedProxies::Add(std::string_view text)
{
    const std::string spec(text);
    boost::system::error_code ec;
    if (spec.find('/') != std::string::npos) {
        if (const auto v4 = ip::make_network_v4(spec, ec); !ec) {
            m_v4.push_back(v4);
            return true;
        }
        if (const auto v6 = ip::make_network_v6(spec, ec); !ec) {
            m_v6.push_back(v6);
            return true;
        }
        return false;
    }
    const ip::address address = ip::make_address(spec, ec);
    if (ec)
        return false;
    if (address.is_v4())
        m_v4.emplace_back(address.to_v4(), 32);
    else
        m_v6.emplace_back(address.to_v6(), 128);
    return true;
}

bool TrustedProxies::Contains(std::string_view text) const
{
    boost::system::error_code ec;
    ip::address address = ip::make_address(std::string(text), ec);
    if (ec)
        return false;
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = ip::make_address_v4(ip::v4_mapped, address.to_v6());
    if (address.is_v4()) {
        const ip::network_v4 one(address.to_v4(), 32);
        return std::any_of(m_v4.begin(), m_v4.end(),
                           [&](const auto& net) { return one == net || one.is_subnet_of(net); });
    }
    const ip::network_v6 one(address.to_v6(), 128);
    return std::any_of(m_v6.begin(), m_v6.end(),
                       [&](const auto& net) { return one == net || one.is_subnet_of(net); });
}

std::string CanonicalAddress(const ip::address& address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return ip::make_address_v4(ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

std::string CanonicalAddress(std::string_view text)
{
    boost::system::error_code ec;
    const ip::address address = ip::make_address(trimmed(text), ec);
    return ec ? std::string() : CanonicalAddress(address);
}

ProxyHeader ParseProxyHeader(std::string_view bytes)
{
    constexpr std::string_view v1 = "PROXY ";
    const std::size_t v1Known = std::min(bytes.size(), v1.size());
    if (bytes.substr(0, v1Known) == v1.substr(0, v1Known))
        return bytes.size() < v1.size() ? ProxyHeader{} : parseV1(bytes);
    const std::size_t v2Known = std::min(bytes.size(), kV2Signature.size());
    if (std::memcmp(bytes.data(), kV2Signature.data(), v2Known) == 0)
        return parseV2(bytes);
    return {ProxyHeader::State::Absent, 0, {}};
}

std::string ForwardedClient(const std::vector<std::pair<std::string, std::string>>& headers,
                            const TrustedProxies& trusted)
{
    // Every X-Forwarded-For field in order, as if they were one list.
    std::vector<std::string> hops;
    std::string realIp;
    for (const auto& [name, value] : headers) {
        if (boost::beast::iequals(name, "X-Real-IP") && realIp.empty()) {
            realIp = CanonicalAddress(value);
        } else if (boost::beast::iequals(name, "X-Forwarded-For")) {
            std::size_t start = 0;
            while (start <= value.size()) {
                const std::size_t comma = value.find(',', start);
                hops.push_back(trimmed(std::string_view(value).substr(start, comma - start)));
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        }
    }
    for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
        const std::string address = CanonicalAddress(*hop);
        if (address.empty())
            return realIp; // a hop that is no address: nothing before it can be relied on
        if (!trusted.Contains(address))
            return address;
    }
    // Every hop is a proxy of ours: the first is as near the client as anyone says.
    return hops.empty() ? realIp : CanonicalAddress(hops.front());
}
