#include "platform/registry.h"

#include "platform/nativepaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace platform {
namespace {

constexpr qsizetype kPageBufferUnits = 4096; // the page's read buffer, terminator included

// Wine's registry text types.
constexpr int kRegSz = 1;
constexpr int kRegExpandSz = 2;
constexpr int kRegBinary = 3;

QString homeDir()
{
    const QString home = qEnvironmentVariable("HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

// "Software\\Tencent\\\\CrossFire\\" → "Software\Tencent\CrossFire": empty levels dropped.
QString normalizeKey(QStringView key)
{
    QString out;
    for (QStringView part : key.split(u'\\', Qt::SkipEmptyParts)) {
        if (!out.isEmpty())
            out.append(u'\\');
        out.append(part);
    }
    return out;
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Reads an escaped string starting at `pos` up to the unescaped `end` character, the way Wine's
// loader reads key names and quoted values. On success `pos` is just past `end`.
std::optional<QString> parseEscaped(QStringView line, qsizetype& pos, QChar end)
{
    QString out;
    while (pos < line.size()) {
        QChar c = line[pos++];
        if (c == end)
            return out;
        if (c != u'\\') {
            out.append(c);
            continue;
        }
        if (pos >= line.size())
            break;
        c = line[pos++];
        switch (c.unicode()) {
        case u'a':
            out.append(QChar(7));
            break;
        case u'b':
            out.append(QChar(8));
            break;
        case u'e':
            out.append(QChar(27));
            break;
        case u'f':
            out.append(QChar(12));
            break;
        case u'n':
            out.append(QChar(10));
            break;
        case u'r':
            out.append(QChar(13));
            break;
        case u't':
            out.append(QChar(9));
            break;
        case u'v':
            out.append(QChar(11));
            break;
        case u'x': {
            char16_t unit = 0;
            int digits = 0;
            for (; digits < 4 && pos < line.size() && hexDigit(line[pos]) >= 0; ++digits)
                unit = char16_t(unit * 16 + hexDigit(line[pos++]));
            out.append(digits ? QChar(unit) : QChar(u'x'));
            break;
        }
        default:
            if (c >= u'0' && c <= u'7') {
                char16_t unit = char16_t(c.unicode() - u'0');
                for (int i = 0; i < 2 && pos < line.size() && line[pos] >= u'0' && line[pos] <= u'7'; ++i)
                    unit = char16_t(unit * 8 + (line[pos++].unicode() - u'0'));
                out.append(QChar(unit));
            } else {
                out.append(c); // "\\", "\"", "\[", "\]" and anything else stand for themselves
            }
        }
    }
    return std::nullopt; // unterminated: a damaged line counts as no entry
}

// Walks the file's lines as bytes; only the lines that matter are decoded (UTF-8).
class LineReader
{
public:
    explicit LineReader(const QByteArray& data)
        : m_data(data)
    {
    }

    bool Next(QByteArrayView& line)
    {
        if (m_pos >= m_data.size())
            return false;
        qsizetype end = m_data.indexOf('\n', m_pos);
        if (end < 0)
            end = m_data.size();
        line = QByteArrayView(m_data).sliced(m_pos, end - m_pos);
        if (line.endsWith('\r'))
            line.chop(1);
        m_pos = end + 1;
        return true;
    }

private:
    const QByteArray& m_data;
    qsizetype m_pos = 0;
};

struct ParsedValue
{
    QString name;
    int type = 0;
    QString text; // for the text types only
};

// hex(n): data as bytes, following "\" continuations onto the next lines.
QByteArray parseHex(LineReader& reader, QStringView data)
{
    QByteArray bytes;
    QString next;
    for (;;) {
        bool continued = false;
        for (QStringView item : data.split(u',')) {
            item = item.trimmed();
            if (item == u"\\") {
                continued = true;
                break;
            }
            if (item.size() == 2 && hexDigit(item[0]) >= 0 && hexDigit(item[1]) >= 0)
                bytes.append(char(hexDigit(item[0]) * 16 + hexDigit(item[1])));
        }
        QByteArrayView line;
        if (!continued || !reader.Next(line))
            return bytes;
        next = QString::fromUtf8(line);
        data = next;
    }
}

QString textFromUtf16(const QByteArray& bytes)
{
    QString out;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = char16_t(uchar(bytes[i]) | (uchar(bytes[i + 1]) << 8));
        if (unit == 0)
            break;
        out.append(QChar(unit));
    }
    return out;
}

// One value line; the reader moves on over continuation lines.
std::optional<ParsedValue> parseValue(QStringView line, LineReader& reader)
{
    ParsedValue value;
    qsizetype pos = 1;
    if (line[0] == u'"') {
        auto name = parseEscaped(line, pos, u'"');
        if (!name)
            return std::nullopt;
        value.name = *name;
    }
    while (pos < line.size() && line[pos] == u' ')
        ++pos;
    if (pos >= line.size() || line[pos] != u'=')
        return std::nullopt;
    ++pos;
    const QStringView data = line.mid(pos);

    if (data.startsWith(u'"')) {
        pos = 1;
        auto text = parseEscaped(data, pos, u'"');
        if (!text)
            return std::nullopt;
        value.type = kRegSz;
        value.text = *text;
        return value;
    }
    static const QRegularExpression typed(QStringLiteral("^(str|hex)(?:\\(([0-9a-fA-F]+)\\))?:"));
    const auto match = typed.match(data);
    if (match.hasMatch()) {
        const bool isStr = match.capturedView(1) == u"str";
        bool ok = true;
        value.type = match.capturedLength(2) ? match.capturedView(2).toInt(&ok, 16)
                                             : (isStr ? kRegSz : kRegBinary);
        const QStringView rest = data.mid(match.capturedLength(0));
        if (isStr) {
            pos = 1;
            auto text = rest.startsWith(u'"') ? parseEscaped(rest, pos, u'"') : std::nullopt;
            if (!text)
                return std::nullopt;
            value.text = *text;
        } else {
            value.text = textFromUtf16(parseHex(reader, rest));
        }
        return value;
    }
    value.type = -1; // dword: and anything unknown: present, not text
    return value;
}

// True when a raw header line certainly names neither `key` nor a key below it, judged on plain
// ASCII bytes alone; anything escaped or non-ASCII is left to the full comparison.
bool quickReject(QByteArrayView raw, const QString& key)
{
    qsizetype j = 1;
    for (qsizetype i = 0; i < key.size(); ++i) {
        if (j >= raw.size())
            return false;
        const char16_t want = key[i].unicode();
        const char have = raw[j];
        if (have == ']')
            return true; // the header ends first
        if (want >= 0x80 || (uchar(have) >= 0x80))
            return false;
        if (want == u'\\') {
            if (have != '\\' || j + 1 >= raw.size() || raw[j + 1] != '\\')
                return have != '\\';
            j += 2;
            continue;
        }
        if (have == '\\' || want == u'[' || want == u']' || want == u'"')
            return false;
        if (QChar::toLower(want) != QChar::toLower(char16_t(uchar(have))))
            return true;
        ++j;
    }
    return false;
}

struct HiveResult
{
    bool keyFound = false;
    std::optional<QString> text;
};

// One pass over a hive file for one key. Sections of the same key that occur twice are all
// looked at; the first matching value wins.
HiveResult lookupInHive(const QString& file, const QString& key, QStringView valueName)
{
    HiveResult result;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return result;
    const QByteArray content = f.readAll();
    LineReader reader(content);
    QByteArrayView raw;
    bool inKey = false;
    bool valueSeen = false;
    while (reader.Next(raw)) {
        if (raw.isEmpty())
            continue;
        const char first = raw[0];
        if (first == '[') {
            inKey = false;
            // Escapes only lengthen a name: a shorter header cannot be the key or below it.
            if (raw.size() < key.size() + 2 || quickReject(raw, key))
                continue;
            const QString line = QString::fromUtf8(raw);
            qsizetype pos = 1;
            const auto name = parseEscaped(line, pos, u']');
            if (!name)
                continue;
            const QString header = normalizeKey(*name);
            if (header.compare(key, Qt::CaseInsensitive) == 0) {
                inKey = true;
                result.keyFound = true;
            } else if (!result.keyFound && header.size() > key.size() && header[key.size()] == u'\\'
                       && QStringView(header).left(key.size()).compare(key, Qt::CaseInsensitive) == 0) {
                result.keyFound = true; // Wine leaves out keys that only hold other keys
            }
        } else if (inKey && !valueSeen && (first == '"' || first == '@')) {
            const QString line = QString::fromUtf8(raw);
            const auto value = parseValue(line, reader);
            if (!value || value->name.compare(valueName, Qt::CaseInsensitive) != 0)
                continue;
            valueSeen = true;
            if (value->type == kRegSz || value->type == kRegExpandSz)
                result.text = value->text;
        }
    }
    return result;
}

QString hiveFile(const QString& prefixDir, const char16_t* name)
{
    return prefixDir + u'/' + QString::fromUtf16(name);
}

RegistryString lookupPlain(int root, const QString& key, QStringView valueName, const QString& prefixDir)
{
    RegistryString out;
    if (key.isEmpty() && root >= kClassesRoot && root <= kDynData)
        out.keyFound = true; // the root itself always opens
    switch (root) {
    case kLocalMachine:
    case kCurrentUser: {
        const auto hive = lookupInHive(
            hiveFile(prefixDir, root == kLocalMachine ? u"system.reg" : u"user.reg"), key, valueName);
        out.keyFound = out.keyFound || hive.keyFound;
        out.text = hive.text;
        break;
    }
    case kClassesRoot: {
        const QString classes = key.isEmpty() ? QStringLiteral("Software\\Classes")
                                              : QStringLiteral("Software\\Classes\\") + key;
        for (const char16_t* name : {u"user.reg", u"system.reg"}) {
            const auto hive = lookupInHive(hiveFile(prefixDir, name), classes, valueName);
            out.keyFound = out.keyFound || hive.keyFound;
            if (!out.text)
                out.text = hive.text;
        }
        break;
    }
    default:
        break;
    }
    return out;
}

bool isWin64Prefix(const QString& prefixDir)
{
    QFile f(hiveFile(prefixDir, u"system.reg"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // The architecture line sits in the file's first lines, before any key.
    for (int i = 0; i < 8 && !f.atEnd(); ++i) {
        if (f.readLine().startsWith("#arch=win64"))
            return true;
    }
    return false;
}

} // namespace

QString WinePrefixDir()
{
    QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty())
        prefix = homeDir() + QStringLiteral("/.wine");
    while (prefix.size() > 1 && prefix.endsWith(u'/'))
        prefix.chop(1);
    return prefix;
}

QString DosPathToNative(QStringView windowsPath, const QString& prefixDir)
{
    static const QRegularExpression drive(QStringLiteral("^([A-Za-z]):(?:[\\\\/]|$)"));
    const auto match = drive.match(windowsPath);
    if (!match.hasMatch())
        return NativePath(windowsPath);

    QString current = prefixDir + QStringLiteral("/dosdevices/") + match.capturedView(1).toString().toLower()
        + u':';
    const QStringView rest = windowsPath.mid(2);
    bool matching = true;
    for (QStringView part : rest.split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts)) {
        QString next = current + u'/' + part.toString();
        if (matching && !QFileInfo::exists(next)) {
            const QStringList entries = QDir(current).entryList(QDir::AllEntries | QDir::NoDotAndDotDot
                                                                | QDir::Hidden | QDir::System);
            matching = false;
            for (const QString& entry : entries) {
                if (entry.compare(part, Qt::CaseInsensitive) == 0) {
                    next = current + u'/' + entry;
                    matching = true;
                    break;
                }
            }
        }
        current = next;
    }
    if (rest.endsWith(u'\\') || rest.endsWith(u'/'))
        current.append(u'/');
    return current;
}

RegistryString RegistryLookup(int root, QStringView subKey, QStringView valueName, const QString& prefixDir)
{
    const QString key = normalizeKey(subKey);
    // A 32-bit program on a 64-bit prefix sees HKLM\Software through Wow6432Node; the
    // game's installer writes there, so that view comes first and the shared one after it.
    static const QLatin1String software("Software\\");
    if (root == kLocalMachine && key.startsWith(software, Qt::CaseInsensitive)
        && !key.contains(QLatin1String("\\Wow6432Node"), Qt::CaseInsensitive) && isWin64Prefix(prefixDir)) {
        const QString redirected = QStringLiteral("Software\\Wow6432Node\\") + key.mid(software.size());
        RegistryString found = lookupPlain(root, redirected, valueName, prefixDir);
        if (found.keyFound)
            return found;
    }
    return lookupPlain(root, key, valueName, prefixDir);
}

QString RegistryReadString(int root, const QString& subKey, const QString& valueName)
{
    const QString prefix = WinePrefixDir();
    const RegistryString found = RegistryLookup(root, subKey, valueName, prefix);
    if (!found.text || found.text->size() >= kPageBufferUnits)
        return QString();
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:(?:[\\\\/]|$)"));
    if (drive.match(*found.text).hasMatch())
        return DosPathToNative(*found.text, prefix);
    return *found.text;
}

} // namespace platform
