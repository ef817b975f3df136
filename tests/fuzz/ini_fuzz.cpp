// Fuzz target: settings files through ReadIniString and WriteIniString. The input is a file of
// any bytes (any encoding, with or without a byte-order mark), then a section, a key and a
// value for one write, given as UTF-8 or, when the mode byte is odd, as raw UTF-16 (so lone
// surrogates and NULs reach the store too). Checked: a write either is refused and leaves the
// file's bytes alone, or reads back as a key line with that value reads, and every other name
// the file had reads as before.
#include "config/inifile.h"
#include "config/iniformat.h"
#include "fuzzcommon.h"

#include <QFile>

namespace {

constexpr int kCapacity = 1 << 22; // above the largest file the store reads, so nothing is cut

QString asText(const QByteArray& bytes, bool utf16)
{
    if (!utf16)
        return QString::fromUtf8(bytes);
    return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The section and key names of the file, as the store's own index sees them, for the check
// that a write changes nothing else.
QList<std::pair<QString, QString>> namesIn(const QByteArray& bytes)
{
    const config::ini::Index index = config::ini::BuildIndex(config::ini::Parse(bytes));
    QList<std::pair<QString, QString>> names;
    for (auto s = index.sections.cbegin(); s != index.sections.cend() && names.size() < 64; ++s) {
        for (auto k = s.value().cbegin(); k != s.value().cend() && names.size() < 64; ++k)
            names.append({s.key(), k.key()});
    }
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = fuzz::Split(data, size, 5);
    const bool utf16 = !parts.at(1).isEmpty() && (parts.at(1).at(0) & 1);
    const QString section = asText(parts.at(2), utf16);
    QString key = asText(parts.at(3), utf16);
    const QString value = asText(parts.at(4), utf16);
    const QString path = fuzz::Sandbox() + QStringLiteral("/config.ini");
    fuzz::WriteFile(path, parts.at(0));

    const QString missing = QStringLiteral("\u0001missing");
    QList<std::pair<QString, QString>> others = namesIn(parts.at(0));
    QList<QString> before;
    for (const auto& [s, k] : others)
        before.append(ReadIniString(path, s, k, missing, kCapacity));
    // Short capacities cut, never overrun.
    for (int capacity : {0, 1, 2, 5})
        if (ReadIniString(path, section, key, value, capacity).size() > qMax(capacity - 1, 0))
            fuzz::Fail("a read longer than its capacity");

    const bool written = WriteIniString(path, section, key, value);
    const QByteArray after = contents(path);
    if (!written) {
        if (after != parts.at(0))
            fuzz::Fail("a refused write changed the file");
        return 0;
    }
    const QString expected = config::ini::SplitKey(QString(QStringLiteral("k=") + value)).value.toString();
    const QString got = ReadIniString(path, section, key, missing, kCapacity);
    if (got != expected)
        fuzz::Fail("a written value reads back differently",
                   QStringLiteral("wrote [%1] %2=%3, read %4").arg(section, key, value, got));

    const QString foldedSection = config::ini::Fold(config::ini::TrimBlanks(section));
    const QString foldedKey = config::ini::Fold(config::ini::TrimBlanks(key));
    for (qsizetype i = 0; i < others.size(); ++i) {
        const auto& [s, k] = others.at(i);
        if (config::ini::Fold(s) == foldedSection && config::ini::Fold(k) == foldedKey)
            continue;
        const QString now = ReadIniString(path, s, k, missing, kCapacity);
        if (now != before.at(i))
            fuzz::Fail("a write changed another key",
                       QStringLiteral("wrote [%1] %2, then [%3] %4 was %5, is %6")
                           .arg(section, key, s, k, before.at(i), now));
    }
    return 0;
}

QList<QByteArray> FuzzSeeds()
{
    const QByteArray gbk("[YFZSVER]\r\nVersion=1.0.0\r\nSerTime=20261201000000\r\n\r\n[system]\r\n"
                         "UID=\xcd\xe6\xbc\xd2\r\nUWD=\"quoted\" \r\n;comment=1\r\n");
    QByteArray utf16le("\xff\xfe", 2);
    for (QChar c : QStringLiteral("[系统]\r\n键=值\r\n"))
        utf16le.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
    QByteArray utf16be("\xfe\xff", 2);
    for (QChar c : QStringLiteral("[a]\nb=c\n"))
        utf16be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xff));
    const QByteArray utf8 = QByteArray("\xef\xbb\xbf")
        + QStringLiteral("[设置]\nGamePath=C:\\穿越火线\n").toUtf8();
    return {
        fuzz::Join({gbk, "0", "system", "UID", QStringLiteral("新玩家").toUtf8()}),
        fuzz::Join({gbk, "0", " yfzsver ", "version", " 'x' "}),
        fuzz::Join({utf16le, "0", QStringLiteral("系统").toUtf8(), QStringLiteral("新").toUtf8(), "v"}),
        fuzz::Join({utf16be + QByteArray(1, '\0'), "0", "a", "b", "c"}),
        fuzz::Join({utf8, "1", QByteArray("s\0", 2), QByteArray("k\0", 2), QByteArray("\x00\xd8", 2)}),
        fuzz::Join({"[dup]\nk=1\n[DUP]\nk=2\nK=3\n[x]y]\n=z\n\x1a", "0", "dup", "k", "\xf0\x9f\x98\x80"})};
}
