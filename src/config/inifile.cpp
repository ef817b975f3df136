#include "inifile.h"

#include "codec.h"
#include "paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>

#include <map>
#include <memory>

namespace {

enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };

struct Line
{
    qsizetype begin; // raw offsets: content start, content end, start of the next line
    qsizetype end;
    qsizetype next;
};

struct Document
{
    QByteArray raw;
    Encoding encoding = Encoding::Ansi;
    qsizetype bom = 0;
    QList<Line> lines;
};

QString decode(Encoding encoding, QByteArrayView bytes)
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

QByteArray encode(Encoding encoding, QStringView text)
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

Document parse(QByteArray raw)
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

    const bool wide = doc.encoding == Encoding::Utf16LE || doc.encoding == Encoding::Utf16BE;
    const qsizetype unit = wide ? 2 : 1;
    const qsizetype size = wide ? doc.bom + (r.size() - doc.bom) / 2 * 2 : r.size();
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

// Decodes line i into `buffer` and returns a view of it. Every read walks the file, so plain
// ASCII lines skip the codec and the buffer's storage is reused from line to line.
QStringView lineText(const Document& doc, qsizetype i, QString& buffer)
{
    const Line& l = doc.lines[i];
    const QByteArrayView bytes = QByteArrayView(doc.raw).sliced(l.begin, l.end - l.begin);
    if (doc.encoding == Encoding::Ansi || doc.encoding == Encoding::Utf8) {
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
    buffer = decode(doc.encoding, bytes);
    return buffer;
}

// A section header "[name]" gives true and its trimmed name ("[]" is a section with no name).
bool sectionName(QStringView line, QStringView& name)
{
    const QStringView t = line.trimmed();
    if (!t.startsWith(u'['))
        return false;
    const qsizetype close = t.indexOf(u']');
    if (close < 0)
        return false;
    name = t.mid(1, close - 1).trimmed();
    return true;
}

struct KeyLine
{
    QStringView key;
    QStringView value;
};

KeyLine splitKey(QStringView line)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return {line.trimmed(), QStringView()};
    QStringView value = line.mid(eq + 1).trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return {line.left(eq).trimmed(), value};
}

struct Position
{
    qsizetype section = -1;    // header line of the first matching section
    qsizetype key = -1;        // first matching key line in it
    qsizetype lastContent = -1; // last non-blank line of that section
};

Position locate(const Document& doc, QStringView section, QStringView key, bool wantSectionEnd)
{
    Position p;
    bool inTarget = false;
    QString buffer;
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        const QStringView text = lineText(doc, i, buffer);
        QStringView name;
        if (sectionName(text, name)) {
            if (inTarget)
                break; // the first matching section wins; later duplicates are not searched
            if (name.compare(section, Qt::CaseInsensitive) == 0) {
                inTarget = true;
                p.section = p.lastContent = i;
            }
            continue;
        }
        if (!inTarget || text.trimmed().isEmpty())
            continue;
        p.lastContent = i;
        if (p.key < 0 && splitKey(text).key.compare(key, Qt::CaseInsensitive) == 0) {
            p.key = i;
            if (!wantSectionEnd)
                break;
        }
    }
    return p;
}

QString lockKey(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// One lock per file for the whole process; entries are never removed, there are only a few files.
QMutex& lockFor(const QString& path)
{
    static QMutex tableLock;
    static std::map<QString, std::unique_ptr<QMutex>> table;
    QMutexLocker guard(&tableLock);
    auto& slot = table[lockKey(path)];
    if (!slot)
        slot = std::make_unique<QMutex>();
    return *slot;
}

bool hasLineBreak(const QString& s)
{
    return s.contains(u'\r') || s.contains(u'\n');
}

QByteArray newlineOf(const Document& doc)
{
    for (const Line& l : doc.lines) {
        if (l.next > l.end) {
            const QString terminator = decode(doc.encoding, QByteArrayView(doc.raw).sliced(l.end, l.next - l.end));
            return encode(doc.encoding, terminator);
        }
    }
    return encode(doc.encoding, u"\r\n");
}

} // namespace

QString ReadIniString(const QString& file, const QString& section, const QString& key,
                      const QString& defaultValue, int capacity)
{
    const QString path = platform::NativePath(file);
    QByteArray raw;
    {
        QMutexLocker guard(&lockFor(path));
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return defaultValue.left(qMax(0, capacity - 1));
        raw = f.readAll();
    }
    const Document doc = parse(std::move(raw));
    const Position p = locate(doc, section.trimmed(), key.trimmed(), false);
    if (p.key < 0)
        return defaultValue.left(qMax(0, capacity - 1));
    QString buffer;
    return splitKey(lineText(doc, p.key, buffer)).value.left(qMax(0, capacity - 1)).toString();
}

bool WriteIniString(const QString& file, const QString& section, const QString& key,
                    const QString& value)
{
    if (section.trimmed().isEmpty() || key.trimmed().isEmpty())
        return false;
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value) || section.contains(u']'))
        return false;

    const QString path = platform::NativePath(file);
    QMutexLocker guard(&lockFor(path));

    QByteArray raw;
    QFile existing(path);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return false;
        raw = existing.readAll();
        existing.close();
    }
    const Document doc = parse(std::move(raw));
    const Position p = locate(doc, section.trimmed(), key.trimmed(), true);
    const QByteArray nl = newlineOf(doc);
    const QByteArray& r = doc.raw;

    QByteArray out;
    out.reserve(r.size() + key.size() + value.size() + section.size() + 16);
    if (p.key >= 0) {
        const Line& l = doc.lines[p.key];
        QString buffer;
        const QString storedKey = splitKey(lineText(doc, p.key, buffer)).key.toString();
        out.append(r.left(l.begin));
        out.append(encode(doc.encoding, QString(storedKey + u'=' + value)));
        out.append(r.mid(l.end));
    } else if (p.section >= 0) {
        const Line& l = doc.lines[p.lastContent];
        out.append(r.left(l.next));
        if (l.next == l.end) // the section's last line ends the file without a line break
            out.append(nl);
        out.append(encode(doc.encoding, QString(key.trimmed() + u'=' + value)));
        out.append(nl);
        out.append(r.mid(l.next));
    } else {
        out.append(r);
        if (r.isEmpty() && doc.bom == 0) {
            // A new file is GBK without a mark, as the Windows functions create it.
        } else if (!doc.lines.isEmpty() && doc.lines.back().next == doc.lines.back().end) {
            out.append(nl);
        }
        out.append(encode(doc.encoding, QString(u'[' + section.trimmed() + u']')));
        out.append(nl);
        out.append(encode(doc.encoding, QString(key.trimmed() + u'=' + value)));
        out.append(nl);
    }

    QSaveFile target(path);
    target.setDirectWriteFallback(false);
    if (!target.open(QIODevice::WriteOnly))
        return false;
    if (target.write(out) != out.size()) {
        target.cancelWriting();
        return false;
    }
    return target.commit();
}
