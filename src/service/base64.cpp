#include "service/base64.h"

#include "platform/codec.h"

#include <QByteArray>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(QChar ch)
{
    const char16_t c = ch.unicode();
    if (c >= u'A' && c <= u'Z')
        return c - u'A';
    if (c >= u'a' && c <= u'z')
        return c - u'a' + 26;
    if (c >= u'0' && c <= u'9')
        return c - u'0' + 52;
    if (c == u'+')
        return 62;
    if (c == u'/')
        return 63;
    return -1;
}

// Reads the next `count` alphabet characters from `pos` into one number, first highest.
bool collect(const QString& text, qsizetype& pos, int count, quint32& bits)
{
    bits = 0;
    while (count > 0) {
        if (pos >= text.size())
            return false;
        const int value = sextet(text.at(pos++));
        if (value < 0)
            continue;
        bits = (bits << 6) | quint32(value);
        --count;
    }
    return true;
}

} // namespace

QString Base64Encode(const QString& text)
{
    const qsizetype n = text.size();
    auto low = [&](qsizetype i) { return quint8(text.at(i).unicode() & 0xff); };
    QString out;
    out.reserve((n + 2) / 3 * 4);
    qsizetype i = 0;
    for (; i + 2 < n; i += 3) {
        const quint8 b0 = low(i), b1 = low(i + 1), b2 = low(i + 2);
        out += QLatin1Char(kAlphabet[b0 >> 2]);
        out += QLatin1Char(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        out += QLatin1Char(kAlphabet[((b1 & 15) << 2) | (b2 >> 6)]);
        out += QLatin1Char(kAlphabet[b2 & 63]);
    }
    if (n - i == 1) {
        const quint8 b0 = low(i);
        out += QLatin1Char(kAlphabet[b0 >> 2]);
        out += QLatin1Char(kAlphabet[(b0 & 3) << 4]);
        out += QStringLiteral("==");
    } else if (n - i == 2) {
        const quint8 b0 = low(i), b1 = low(i + 1);
        out += QLatin1Char(kAlphabet[b0 >> 2]);
        out += QLatin1Char(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        out += QLatin1Char(kAlphabet[(b1 & 15) << 2]);
        out += u'=';
    }
    return out;
}

QString Base64Decode(const QString& text)
{
    const qsizetype n = text.size();
    qsizetype count = n / 4 * 3;
    if (n >= 1 && text.at(n - 1) == u'=')
        --count;
    if (n >= 2 && text.at(n - 2) == u'=')
        --count;

    QByteArray bytes;
    bytes.reserve(qMax<qsizetype>(count, 0));
    qsizetype pos = 0;
    quint32 bits = 0;
    for (qsizetype group = 0; group < count / 3; ++group) {
        if (!collect(text, pos, 4, bits))
            return platform::FromAnsi(bytes);
        bytes.append(char(bits >> 16));
        bytes.append(char(bits >> 8));
        bytes.append(char(bits));
    }
    if (count > 0 && count % 3 == 1 && collect(text, pos, 2, bits)) {
        bytes.append(char(bits >> 4));
    } else if (count > 0 && count % 3 == 2 && collect(text, pos, 3, bits)) {
        bytes.append(char(bits >> 10));
        bytes.append(char(bits >> 2));
    }
    const qsizetype end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    return platform::FromAnsi(bytes);
}
