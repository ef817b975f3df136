// yfzs-ini: reads and writes one key of a settings file by the program's own rules (the settings
// store in src/config), so scripts that prepare a config.ini agree with the program on letter
// case, encodings, duplicates and quoting, and a file they create is owner-only.
//   yfzs-ini get FILE SECTION KEY          prints the value; exit 1 when the key is missing
//   yfzs-ini set FILE SECTION KEY VALUE    exit 1, with the reason, when the write is refused

#include "config/inifile.h"

#include <QLoggingCategory>
#include <QString>

#include <cstdio>

namespace {

// Large enough that no value a file can hold is cut.
constexpr int kCapacity = 64 * 1024 * 1024;

// The store answers a missing key with the caller's default; two defaults no file can hold at
// once tell "missing" from a stored value that happens to equal one of them.
const QString kMissingA = QStringLiteral("\x01missing-a");
const QString kMissingB = QStringLiteral("\x01missing-b");

int usage()
{
    std::fputs("usage: yfzs-ini get FILE SECTION KEY\n"
               "       yfzs-ini set FILE SECTION KEY VALUE\n",
               stderr);
    return 2;
}

int get(const QString& file, const QString& section, const QString& key)
{
    const QString value = ReadIniString(file, section, key, kMissingA, kCapacity);
    if (value == kMissingA && ReadIniString(file, section, key, kMissingB, kCapacity) == kMissingB)
        return 1;
    const QByteArray out = value.toUtf8() + '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return 0;
}

int set(const QString& file, const QString& section, const QString& key, const QString& value)
{
    if (WriteIniString(file, section, key, value))
        return 0;
    std::fprintf(stderr, "yfzs-ini: [%s] %s not written to %s\n", qPrintable(section), qPrintable(key),
                 qPrintable(file));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    // The store says why it refused a write under its own category, off in the program.
    QLoggingCategory::setFilterRules(QStringLiteral("yfzs.ini.warning=true"));

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.size() == 4 && args.at(0) == QLatin1String("get"))
        return get(args.at(1), args.at(2), args.at(3));
    if (args.size() == 5 && args.at(0) == QLatin1String("set"))
        return set(args.at(1), args.at(2), args.at(3), args.at(4));
    return usage();
}
