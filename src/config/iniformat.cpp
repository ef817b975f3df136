#include "config/iniformat.h"

#include "platform/codec.h"

namespace config::ini {
namespace {

bool isBlank(QChar c)
{
    return c.isSpace() || c == u'\x1a';
}

bool isWide(Encoding encoding)
{
    return encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE;
}

} // namespace

QString Decode(Encoding encoding, QByteArrayView bytes)
{
    switch (encoding) {
    case Encoding::Ansi:
        return platform::FromAnsi(bytes);
    case Encoding::Utf8:
        return QString::fromUtf8(bytes);
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: {
        QString out(bytes.size() / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < out.size(); ++i) {
            const uchar a = uchar(bytes[2 * i]), b = uchar(bytes[2 * i + 1]);
            out[i] = QChar(encoding == Encoding::Utf16LE ? char16_t(a | b << 8) : char16_t(b | a << 8));
        }
        return out;
    }
    }
    return {};
}

QByteArray Encode(Encoding encoding, QStringView text)
{
    switch (encoding) {
    case Encoding::Ansi:
        return platform::ToAnsi(text);
    case Encoding::Utf8:
        return text.toUtf8();
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: {
        QByteArray out(text.size() * 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t u = text[i].unicode();
            const char lo = char(u & 0xff), hi = char(u >> 8);
            out[2 * i] = encoding == Encoding::Utf16LE ? lo : hi;
            out[2 * i + 1] = encoding == Encoding::Utf16LE ? hi : lo;
        }
        return out;
    }
    }
    return {};
}

bool CanEncode(Encoding encoding, QStringView text)
{
    if (isWide(encoding))
        return true;
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    return ascii || Decode(encoding, Encode(encoding, text)) == text;
}

Document Parse(QByteArray raw)
{
    Document doc;
    doc.raw = std::move(raw);
    const QByteArray& r = doc.raw;
    if (r.startsWith("\xff\xfe"))
        doc.encoding = Encoding::Utf16LE, doc.bom = 2;
    else if (r.startsWith("\xfe\xff"))
        doc.encoding = Encoding::Utf16BE, doc.bom = 2;
    else if (r.startsWith("\xef\xbb\xbf"))
        doc.encoding = Encoding::Utf8, doc.bom = 3;

    const bool wide = isWide(doc.encoding);
    const qsizetype unit = wide ? 2 : 1;
    const qsizetype size = wide ? doc.bom + (r.size() - doc.bom) / 2 * 2 : r.size();
    doc.oddTail = size != r.size();
    auto unitAt = [&](qsizetype pos) -> char16_t {
        if (!wide)
            return uchar(r[pos]);
        const uchar a = uchar(r[pos]), b = uchar(r[pos + 1]);
        return doc.encoding == Encoding::Utf16LE ? char16_t(a | b << 8) : char16_t(b | a << 8);
    };

    // CR and LF never occur inside a GBK or UTF-8 character, so lines split on raw bytes.
    qsizetype pos = doc.bom;
    while (pos < size) {
        qsizetype end = pos;
        while (end < size && unitAt(end) != u'\r' && unitAt(end) != u'\n')
            end += unit;
        qsizetype next = end;
        if (next < size) {
            const char16_t first = unitAt(next);
            next += unit;
            if (first == u'\r' && next < size && unitAt(next) == u'\n')
                next += unit;
        }
        doc.lines.append({pos, end, next});
        pos = next;
    }
    return doc;
}

QStringView LineText(const Document& doc, qsizetype i, QString& buffer)
{
    const Line& l = doc.lines[i];
    const QByteArrayView bytes = QByteArrayView(doc.raw).sliced(l.begin, l.end - l.begin);
    if (doc.encoding == Encoding::Ansi || doc.encoding == Encoding::Utf8) {
        // Most lines are plain ASCII: skip the codec and reuse the buffer's storage.
        bool ascii = true;
        for (char c : bytes)
            ascii = ascii && uchar(c) < 0x80;
        if (ascii) {
            buffer.resize(bytes.size());
            QChar* out = buffer.data();
            for (qsizetype k = 0; k < bytes.size(); ++k)
                out[k] = QChar(char16_t(uchar(bytes[k])));
            return buffer;
        }
    }
    buffer = Decode(doc.encoding, bytes);
    return buffer;
}

QStringView TrimBlanks(QStringView text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

bool SectionName(QStringView line, QStringView& name)
{
    const QStringView t = TrimBlanks(line);
    if (!t.startsWith(u'['))
        return false;
    const qsizetype close = t.lastIndexOf(u']');
    if (close < 1)
        return false;
    name = TrimBlanks(t.sliced(1, close - 1));
    return true;
}

namespace {

QStringView withoutQuotes(QStringView value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'')
        && value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

} // namespace

KeyLine SplitKey(QStringView line)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return {TrimBlanks(line), QStringView()};
    QStringView value = line.sliced(eq + 1);
    const qsizetype nul = value.indexOf(QChar(u'\0'));
    if (nul >= 0)
        value = value.first(nul);
    return {TrimBlanks(line.first(eq)), withoutQuotes(TrimBlanks(value))};
}

QStringView DefaultValue(QStringView value)
{
    qsizetype end = value.size();
    while (end > 0 && value[end - 1] == u' ')
        --end;
    return withoutQuotes(value.first(end));
}

QString Fold(QStringView name)
{
    QString out(name.size(), Qt::Uninitialized);
    QChar* o = out.data();
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c >= 0x80)
            return name.toString().toCaseFolded();
        o[i] = QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c);
    }
    return out;
}

Index BuildIndex(const Document& doc)
{
    Index index;
    QHash<QString, QString>* current = nullptr;
    QString buffer;
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        const QStringView text = LineText(doc, i, buffer);
        QStringView name;
        if (SectionName(text, name)) {
            const QString folded = Fold(name);
            current = index.sections.contains(folded) ? nullptr : &index.sections[folded];
            continue;
        }
        if (!current || TrimBlanks(text).isEmpty())
            continue;
        const KeyLine kl = SplitKey(text);
        QString key = Fold(kl.key);
        if (!current->contains(key))
            current->insert(std::move(key), kl.value.toString());
    }
    return index;
}

} // namespace config::ini
