#include "platform/codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace platform {
namespace {

// iconv_open is far dearer than a conversion, so each thread keeps its two handles.
class Converter
{
public:
    Converter(const char* to, const char* from)
        : m_cd(iconv_open(to, from))
    {
    }
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }
    void reset() { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t m_cd;
};

Converter& toGbk()
{
    thread_local Converter c("CP936", "UTF-16LE");
    return c;
}

Converter& fromGbk()
{
    thread_local Converter c("UTF-16LE", "CP936");
    return c;
}

bool isAscii(QByteArrayView bytes)
{
    for (char ch : bytes)
        if (static_cast<unsigned char>(ch) >= 0x80)
            return false;
    return true;
}

bool isAscii(QStringView text)
{
    for (QChar ch : text)
        if (ch.unicode() >= 0x80)
            return false;
    return true;
}

} // namespace

QByteArray ToAnsi(QStringView text)
{
    if (isAscii(text))
        return text.toLatin1();

    Converter& conv = toGbk();
    QByteArray out;
    out.reserve(text.size() * 2);
    if (!conv.valid()) {
        for (QChar ch : text)
            out.append(ch.unicode() < 0x80 ? char(ch.unicode()) : '?');
        return out;
    }
    conv.reset();

    const char* in = reinterpret_cast<const char*>(text.utf16());
    size_t inLeft = size_t(text.size()) * 2;
    char buffer[1024];
    while (inLeft > 0) {
        char* dst = buffer;
        size_t outLeft = sizeof(buffer);
        char* src = const_cast<char*>(in);
        const size_t rc = iconv(conv.handle(), &src, &inLeft, &dst, &outLeft);
        out.append(buffer, dst - buffer);
        in = src;
        if (rc != size_t(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // A character GBK has no bytes for (or a lone surrogate): one '?' for the code point.
        out.append('?');
        const char16_t unit = char16_t(uchar(in[0]) | (uchar(in[1]) << 8));
        size_t skip = 2;
        if (QChar::isHighSurrogate(unit) && inLeft >= 4) {
            const char16_t next = char16_t(uchar(in[2]) | (uchar(in[3]) << 8));
            if (QChar::isLowSurrogate(next))
                skip = 4;
        }
        skip = std::min(skip, inLeft);
        in += skip;
        inLeft -= skip;
        conv.reset();
    }
    return out;
}

QString FromAnsi(QByteArrayView bytes)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes.data(), bytes.size());

    Converter& conv = fromGbk();
    QString out;
    out.reserve(bytes.size());
    if (!conv.valid()) {
        for (char ch : bytes)
            out.append(uchar(ch) < 0x80 ? QChar(char16_t(uchar(ch))) : QChar(QChar::ReplacementCharacter));
        return out;
    }
    conv.reset();

    const char* in = bytes.data();
    size_t inLeft = size_t(bytes.size());
    char buffer[2048];
    while (inLeft > 0) {
        char* dst = buffer;
        size_t outLeft = sizeof(buffer);
        char* src = const_cast<char*>(in);
        const size_t rc = iconv(conv.handle(), &src, &inLeft, &dst, &outLeft);
        out.append(QStringView(reinterpret_cast<const char16_t*>(buffer), (dst - buffer) / 2));
        in = src;
        if (rc != size_t(-1) || errno == E2BIG)
            continue;
        // EILSEQ: not GBK here; EINVAL: a lead byte cut off at the end. Either way one U+FFFD
        // for the offending byte, then carry on after it.
        out.append(QChar(QChar::ReplacementCharacter));
        ++in;
        --inLeft;
        conv.reset();
    }
    return out;
}

qsizetype AnsiLength(QStringView text)
{
    return isAscii(text) ? text.size() : ToAnsi(text).size();
}

} // namespace platform
