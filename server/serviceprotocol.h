#pragma once
// The service host's wire format. A message is "^" + two-digit code, a ten-digit length field,
// the data fields and "~", separated by DC1 (0x11), in GBK, followed by two zero bytes.
// Update-check requests count their length in UTF-16 units, login requests in GBK bytes;
// replies count GBK bytes. Fields handed in and out here are UTF-8.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace svc {

inline constexpr char kSeparator = '\x11';
inline constexpr std::string_view kUpdateCode = "11";
inline constexpr std::string_view kLoginCode = "12";
inline constexpr std::size_t kDataFields = 4;         // both requests carry four
inline constexpr std::size_t kMaxRequestBytes = 1024; // far above any real request
inline constexpr std::size_t kMaxReplyBytes = 512;    // the client reads one 512-byte buffer

struct Request
{
    std::string code;                // "11" or "12"
    std::vector<std::string> fields; // the four data fields
};

struct ParseResult
{
    std::optional<Request> request;
    std::string code;  // the command code when it could be read, for the refusal
    std::string mac;   // data field 0 when present, echoed in the refusal
    std::string error; // why the request was refused, for the log
};

// `text` is the request up to, not including, its first zero byte.
ParseResult ParseRequest(std::string_view text);

// Reply text in GBK plus the two zero bytes; nothing when a field cannot be encoded or the
// reply would exceed kMaxReplyBytes.
std::optional<std::string> BuildReply(std::string_view code, const std::vector<std::string>& dataFields);

// A request laid out the way the program builds it (GBK, two zero bytes), for tests and tools.
std::optional<std::string> BuildRequest(std::string_view code, const std::vector<std::string>& dataFields);

// Splits at every separator: k separators give k + 1 fields, empty ones included.
std::vector<std::string_view> SplitFields(std::string_view text);

} // namespace svc
