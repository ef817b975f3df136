// Fuzz target: Wine's registry files as the registry view reads them. The input is a
// system.reg, a user.reg and a lookup (root code, key path, value name); besides the lookup
// asked for, every key header and value name in the files is looked up under every root. Checked:
// the page's read never returns 4096 or more units, a value found implies its key was found,
// and a lookup of the asked key under an unknown root finds nothing.
#include "fuzzcommon.h"
#include "platform/registry.h"

#include <QRegularExpression>

namespace {

QString prefixDir()
{
    static const QString dir = fuzz::Sandbox() + QStringLiteral("/prefix");
    return dir;
}

void lookUp(int root, const QString& key, const QString& value)
{
    const platform::RegistryString found = platform::RegistryLookup(root, key, value, prefixDir());
    if (found.text && !found.keyFound)
        fuzz::Fail("a value found in a key that was not", key + u' ' + value);
    if ((root < 0 || root > 6) && (found.keyFound || found.text))
        fuzz::Fail("a lookup under an unknown root found something", key);
    if (found.text)
        platform::DosPathToNative(*found.text, prefixDir());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool once = [] {
        qputenv("WINEPREFIX", prefixDir().toUtf8());
        return true;
    }();
    Q_UNUSED(once);
    const QList<QByteArray> parts = fuzz::Split(data, size, 5);
    fuzz::WriteFile(prefixDir() + QStringLiteral("/system.reg"), parts.at(0));
    fuzz::WriteFile(prefixDir() + QStringLiteral("/user.reg"), parts.at(1));
    const int root = parts.at(2).isEmpty() ? 2 : int(qint8(parts.at(2).at(0)));
    const QString key = QString::fromUtf8(parts.at(3));
    const QString value = QString::fromUtf8(parts.at(4));

    lookUp(root, key, value);
    if (platform::RegistryReadString(root, key, value).size() >= 4096)
        fuzz::Fail("the page's read returned 4096 units or more");
    lookUp(root + 7, key, value);
    platform::DosPathToNative(key, prefixDir());

    // Every key header with every quoted name of the file, as far as a rough scan finds them.
    static const QRegularExpression header(QStringLiteral("^\\[([^\\]\\n]*)\\]"),
                                           QRegularExpression::MultilineOption);
    static const QRegularExpression name(QStringLiteral("^\"((?:[^\"\\\\\\n]|\\\\.)*)\"="),
                                         QRegularExpression::MultilineOption);
    for (int file = 0; file < 2; ++file) {
        const QString text = QString::fromUtf8(parts.at(file).left(1 << 16));
        QStringList names{QString()};
        for (auto it = name.globalMatch(text); it.hasNext() && names.size() < 8;)
            names.append(it.next().captured(1).replace(QStringLiteral("\\\\"), QStringLiteral("\\")));
        int keys = 0;
        for (auto it = header.globalMatch(text); it.hasNext() && keys < 8; ++keys) {
            QString path = it.next().captured(1).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
            for (int r : {0, 1, 2})
                for (const QString& n : names)
                    lookUp(r, path, n);
            if (path.startsWith(QStringLiteral("Software\\Classes\\"), Qt::CaseInsensitive))
                lookUp(0, path.mid(17), names.value(1));
        }
    }
    return 0;
}

QList<QByteArray> FuzzSeeds()
{
    const QByteArray system =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
        "[Software\\\\Tencent\\\\CrossFire] 1700000000\n#time=1d9f0c3a4b5c6d7\n"
        "\"InstallPath\"=\"C:\\\\Games\\\\CF\"\n\"Version\"=dword:0000002a\n@=\"default\"\n"
        "\"Expand\"=str(2):\"%ProgramFiles%\\\\x\"\n"
        "\"Hex\"=hex(1):43,00,3a,00,5c,00,\\\n  78,00,00,00\n"
        "\"Esc\"=\"\\x4e2d\\x6587\\0tail\\n\\\"q\\\"\"\n\n"
        "[Software\\\\Classes\\\\vederu77\\\\shell\\\\open\\\\command] 1700000001\n@=\"x\"\n";
    const QByteArray user =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
        "[Software\\\\Classes\\\\.zip] 1700000002\n@=\"zipfile\"\n"
        "[Software\\\\Wine\\\\Drives] 1700000003\n\"d:\"=\"cdrom\"\n";
    return {
        fuzz::Join({system, user, "\x02", "Software\\Tencent\\CrossFire", "InstallPath"}),
        fuzz::Join({system, user, "\x01", "software\\classes\\.ZIP", ""}),
        fuzz::Join({system, user, "\x00", ".zip", ""}),
        fuzz::Join({"[a] 1\n\"v\"=hex(2):41,00,\\\n", "[b\\\\c]\n\"x\"=\"\\777\"\n", "\x09", "b\\c", "x"})};
}
