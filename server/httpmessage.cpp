#include "httpmessage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

namespace {

bool sameLetters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::optional<std::uint64_t> number(std::string_view s)
{
    std::uint64_t value = 0;
    if (s.empty() || s.size() > 19)
        return std::nullopt;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

} // namespace

std::string HttpRequest::Header(std::string_view name) const
{
    for (const auto& [key, value] : headers)
        if (sameLetters(key, name))
            return value;
    return {};
}

std::string HttpRequest::Param(const std::string& name) const
{
    const auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

bool HttpRequest::HasParam(const std::string& name) const
{
    return params.count(name) > 0;
}

void HttpReply::Set(std::string name, std::string value)
{
    for (auto& [key, old] : headers)
        if (sameLetters(key, name)) {
            old = std::move(value);
            return;
        }
    headers.emplace_back(std::move(name), std::move(value));
}

HttpReply HttpReply::Text(int status, std::string body, std::string type)
{
    HttpReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.Set("Content-Type", std::move(type));
    return reply;
}

std::string PercentDecode(std::string_view text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += plusIsSpace && c == '+' ? ' ' : c;
    }
    return out;
}

bool IsCleanPath(std::string_view path)
{
    return std::none_of(path.begin(), path.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

void ParseForm(std::string_view text, std::multimap<std::string, std::string>& out)
{
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (pair.empty())
            continue;
        const std::size_t eq = pair.find('=');
        out.emplace(PercentDecode(pair.substr(0, eq), true),
                    eq == std::string_view::npos ? std::string() : PercentDecode(pair.substr(eq + 1), true));
    }
}

std::optional<std::vector<ByteRange>> ParseRanges(std::string_view header)
{
    header = trim(header);
    constexpr std::string_view kUnit = "bytes=";
    if (header.size() <= kUnit.size() || !sameLetters(header.substr(0, kUnit.size()), kUnit))
        return std::nullopt;
    header.remove_prefix(kUnit.size());
    std::vector<ByteRange> ranges;
    while (!header.empty()) {
        const std::size_t comma = header.find(',');
        const std::string_view item = trim(header.substr(0, comma));
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        const std::size_t dash = item.find('-');
        if (dash == std::string_view::npos)
            return std::nullopt;
        const std::string_view from = trim(item.substr(0, dash)), to = trim(item.substr(dash + 1));
        ByteRange range;
        if (!from.empty() && !(range.first = number(from)))
            return std::nullopt;
        if (!to.empty() && !(range.last = number(to)))
            return std::nullopt;
        if (!range.first && !range.last)
            return std::nullopt;
        ranges.push_back(range);
        if (ranges.size() > 100)
            return std::nullopt;
    }
    if (ranges.empty())
        return std::nullopt;
    return ranges;
}

std::shared_ptr<const OpenFile> OpenFile::Open(const std::string& path)
{
    const int fd = ::open(path.c_str(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); // a FIFO must not block
    if (fd < 0)
        return nullptr;
    struct stat info = {};
    // Checked on the open file, not the name: nothing can swap the file in between.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<const OpenFile>(new OpenFile(fd, static_cast<std::uint64_t>(info.st_size)));
}

OpenFile::OpenFile(int fd, std::uint64_t size)
    : m_fd(fd)
    , m_size(size)
{
}

OpenFile::~OpenFile()
{
    ::close(m_fd);
}
