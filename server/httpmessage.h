#pragma once
// The tool server's view of one HTTP exchange, independent of the connection code: a request
// as the routes see it (path decoded, parameters parsed) and the reply they give back (a text
// body or a slice of an open file), plus the parsing helpers both need.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Deadlines and sizes a connection must keep to.
struct HttpLimits
{
    std::chrono::milliseconds head{10000};  // to read a request head: from connecting, or from
                                            // the first byte of a later request on the connection
    std::chrono::milliseconds idle{15000};  // for the next request on a kept-alive connection
    std::chrono::milliseconds body{10000};  // to read a request body
    std::chrono::milliseconds write{30000}; // for each piece of a reply the client must take
    std::size_t maxHeadBytes = 16 * 1024;   // request line and fields together
    std::size_t maxHeaderFields = 100;
    std::size_t maxBodyBytes = 16 * 1024; // only small forms are ever posted
    int maxRequests = 1000;               // on one connection
};

using HttpFields = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest
{
    std::string method;
    std::string target; // as sent, for the log
    std::string path;   // percent-decoded, without the query
    HttpFields headers;
    std::multimap<std::string, std::string> params; // the query's, then a posted form's
    std::string body;
    std::string peer;

    // The first value of a header (names ignore case) or parameter; "" when absent.
    std::string Header(std::string_view name) const;
    std::string Param(const std::string& name) const;
    bool HasParam(const std::string& name) const;
};

// An open file, closed when the last holder lets go. Replies send from it with sendfile(2),
// so a connection holds no buffer of its own however slowly its client reads.
class OpenFile
{
public:
    // The regular file at `path`; nothing when it cannot be opened or is something else.
    static std::shared_ptr<const OpenFile> Open(const std::string& path);
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int Fd() const { return m_fd; }
    std::uint64_t Size() const { return m_size; }

private:
    OpenFile(int fd, std::uint64_t size);

    int m_fd;
    std::uint64_t m_size;
};

struct FileSlice
{
    std::shared_ptr<const OpenFile> file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

struct HttpReply
{
    int status = 200;
    HttpFields headers;
    std::string body;
    std::optional<FileSlice> file; // sent instead of `body`
    bool close = false;            // end the connection after this reply

    void Set(std::string name, std::string value);
    static HttpReply Text(int status, std::string body, std::string type);
};

// Percent-decoding; a '+' becomes a space only where `plusIsSpace` (query strings and forms).
// A '%' not followed by two hex digits is kept as it is.
std::string PercentDecode(std::string_view text, bool plusIsSpace);

// False for a decoded path holding a NUL or another control byte: further on such a path
// would be cut short or misread ("x.js%00.html"), so it is refused whole.
bool IsCleanPath(std::string_view path);

// "a=1&b=x+y" into `out`.
void ParseForm(std::string_view text, std::multimap<std::string, std::string>& out);

// One range of a Range header: "a-b", "a-" (no last) or "-n" (no first: the last n bytes).
struct ByteRange
{
    std::optional<std::uint64_t> first;
    std::optional<std::uint64_t> last;
};
// The ranges of "bytes=..."; nothing when the header is not of that form.
std::optional<std::vector<ByteRange>> ParseRanges(std::string_view header);
