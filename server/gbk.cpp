#include "gbk.h"

#include <cerrno>
#include <iconv.h>

namespace gbk {
namespace {

std::optional<std::string> Convert(const char* to, const char* from, std::string_view in)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out(in.size() * 2 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    bool ok = true;
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG) {
            const std::size_t used = out.size() - dstLeft;
            out.resize(out.size() * 2);
            dst = out.data() + used;
            dstLeft = out.size() - used;
            continue;
        }
        ok = false; // EILSEQ or EINVAL: not representable or cut short
        break;
    }
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

} // namespace

std::optional<std::string> ToUtf8(std::string_view gbkBytes)
{
    return Convert("UTF-8", "GBK", gbkBytes);
}

std::optional<std::string> FromUtf8(std::string_view utf8)
{
    return Convert("GBK", "UTF-8", utf8);
}

std::size_t Utf16Length(std::string_view utf8)
{
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) == 0x80)
            continue;                 // continuation byte
        units += (c >= 0xF0) ? 2 : 1; // four-byte sequences need a surrogate pair
    }
    return units;
}

} // namespace gbk
