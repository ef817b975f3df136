// Fuzz target: the GBK codec both ways, the program's (platform::ToAnsi / FromAnsi, on
// iconv) and the server's (gbk::ToUtf8 / FromUtf8). The input is read once as GBK bytes and
// once as UTF-8 text. Checked: decoding never fails, what decodes cleanly encodes back to the
// same bytes, representable text survives the round trip, AnsiLength matches ToAnsi, and the
// two codecs agree wherever both accept the input.
#include "fuzzcommon.h"
#include "gbk.h"
#include "platform/codec.h"

#include <string>

namespace {

QString show(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' '));
}

void checkAsGbk(const QByteArray& bytes)
{
    const QString text = platform::FromAnsi(bytes);
    const std::optional<std::string> server = gbk::ToUtf8(
        std::string_view(bytes.data(), size_t(bytes.size())));
    if (!text.contains(QChar::ReplacementCharacter)) {
        // Clean GBK: back to the very same bytes.
        if (platform::ToAnsi(text) != bytes)
            fuzz::Fail("GBK bytes do not survive decoding and encoding", show(bytes));
        if (server && QString::fromStdString(*server) != text)
            fuzz::Fail("the program and the server decode GBK differently", show(bytes));
    }
    if (server) {
        // What the server takes for GBK it can also write back.
        const std::optional<std::string> again = gbk::FromUtf8(*server);
        if (!again || *again != std::string(bytes.constData(), size_t(bytes.size())))
            fuzz::Fail("the server's GBK does not round-trip", show(bytes));
        if (gbk::Utf16Length(*server) != size_t(QString::fromStdString(*server).size()))
            fuzz::Fail("the server counts UTF-16 units wrongly", show(bytes));
    }
}

void checkAsText(const QByteArray& utf8)
{
    const QString text = QString::fromUtf8(utf8);
    const QByteArray ansi = platform::ToAnsi(text);
    if (platform::AnsiLength(text) != ansi.size())
        fuzz::Fail("AnsiLength differs from the length ToAnsi gives", text);
    // Representable text (no character became '?') comes back whole.
    if (ansi.count('?') == text.count(u'?') && platform::FromAnsi(ansi) != text)
        fuzz::Fail("representable text does not survive GBK", show(utf8));
    const bool validUtf8 = text.toUtf8() == utf8;
    if (!validUtf8)
        return;
    const std::string std8(utf8.constData(), size_t(utf8.size()));
    if (gbk::Utf16Length(std8) != size_t(text.size()))
        fuzz::Fail("the server counts UTF-16 units wrongly", show(utf8));
    if (const std::optional<std::string> server = gbk::FromUtf8(std8)) {
        if (QByteArray::fromStdString(*server) != ansi)
            fuzz::Fail("the program and the server encode GBK differently", show(utf8));
        if (gbk::ToUtf8(*server) != std8)
            fuzz::Fail("the server's encoding does not decode back", show(utf8));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    checkAsGbk(bytes);
    checkAsText(bytes);
    return 0;
}

QList<QByteArray> FuzzSeeds()
{
    return {QByteArray("plain ascii ~"),
            QByteArray("\xc6\xa4\xb7\xf4\xb0\xfc"), // 皮肤包
            QStringLiteral("穿越火线 皮肤/图标.png").toUtf8(),
            QByteArray("\x81\x40\xfe\x4f\xa1\xa1\x80\xff"), // GBK's edges, the euro, an invalid lead
            QStringLiteral("€ · — ￥ 😀 \u00e9").toUtf8(),
            QByteArray("\xc6"), // a lead byte without its trail
            QByteArray("a\0b", 3)};
}
