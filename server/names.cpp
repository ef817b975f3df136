#include "names.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace names {
namespace {

bool IsBlankAt(std::string_view s, std::size_t at, std::size_t* next)
{
    UChar32 c = 0;
    int32_t i = static_cast<int32_t>(at);
    U8_NEXT(reinterpret_cast<const uint8_t*>(s.data()), i, static_cast<int32_t>(s.size()), c);
    *next = static_cast<std::size_t>(i);
    return c >= 0 && u_isUWhiteSpace(c);
}

} // namespace

std::string Trimmed(std::string_view utf8)
{
    // Names are at most a few dozen bytes; indices fit in int32_t for ICU's macros.
    if (utf8.size() > 0x7FFFFFFF)
        return std::string(utf8);
    std::size_t begin = 0, next = 0;
    while (begin < utf8.size() && IsBlankAt(utf8, begin, &next))
        begin = next;
    // The end is found walking forward, so a multi-byte blank is never cut in half.
    std::size_t end = begin, at = begin;
    while (at < utf8.size()) {
        const bool blank = IsBlankAt(utf8, at, &next);
        at = next;
        if (!blank)
            end = at;
    }
    return std::string(utf8.substr(begin, end - begin));
}

std::string Folded(std::string_view utf8)
{
    const std::string trimmed = Trimmed(utf8);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkcCasefold = icu::Normalizer2::getNFKCCasefoldInstance(status);
    if (U_FAILURE(status))
        return trimmed; // ICU without its data: names still compare, byte for byte
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(trimmed);
    const icu::UnicodeString folded = nfkcCasefold->normalize(text, status);
    if (U_FAILURE(status))
        return trimmed;
    std::string out;
    folded.toUTF8String(out);
    return out;
}

std::string ForLog(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace names
