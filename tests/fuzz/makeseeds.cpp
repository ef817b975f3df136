// Writes the seed corpus for unzip_fuzz: small archives that reach each branch of the
// reader (climbing names, folders, UTF-8 and GBK names, times, hosts, methods, encryption).
#include "zipbuilder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>

namespace {

ZipEntryFixture entry(const QByteArray& name, const QByteArray& data)
{
    ZipEntryFixture e;
    e.name = name;
    e.data = data;
    return e;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: unzip_fuzz_seeds <folder>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    int n = 0;
    auto write = [&](const ZipBuilder& zip) {
        return zip.Write(dir + QStringLiteral("/seed%1.zip").arg(n++, 2, 10, QLatin1Char('0')));
    };

    bool ok = write(ZipBuilder());
    ok &= write(ZipBuilder()
                    .AddFile("a.txt", "hello")
                    .AddFolder("skins/")
                    .AddFile("skins/b.png", QByteArray(300, 'b')));
    ok &= write(ZipBuilder()
                    .AddFile("../x", "1")
                    .AddFile("a/../../y", "2")
                    .AddFile("C:\\z", "3")
                    .AddFile("\\w\\..\\v", "4"));
    ZipEntryFixture utf8 = entry(QStringLiteral("皮肤/图标.png").toUtf8(), "u");
    utf8.utf8Flag = true;
    ok &= write(ZipBuilder().Add(utf8).Add(entry("\xc6\xa4\xb7\xf4.txt", "g")));
    ZipEntryFixture ut = entry("t.txt", "t");
    ut.localExtra = ExtendedTimestamp(7, {1000000000, 1100000000, 1200000000});
    ZipEntryFixture stored = entry("s.bin", QByteArray(2000, 's'));
    stored.deflate = false;
    ok &= write(ZipBuilder().Add(ut).Add(stored));
    ZipEntryFixture link = entry("link", "../../etc/passwd");
    link.versionMadeBy = UnixHost();
    link.externalAttributes = UnixMode(0120777);
    ZipEntryFixture ro = entry("ro.txt", "r");
    ro.versionMadeBy = UnixHost();
    ro.externalAttributes = UnixMode(0100444);
    ZipEntryFixture unixDir = entry("udir", {});
    unixDir.versionMadeBy = UnixHost();
    unixDir.externalAttributes = UnixMode(0040755);
    ok &= write(ZipBuilder().Add(link).Add(ro).Add(unixDir));
    ZipEntryFixture secret = entry("secret", "pw protected");
    secret.password = "pw";
    ok &= write(ZipBuilder().AddFile("before", "b").Add(secret));
    ok &= write(ZipBuilder().AddFile("skins/", "not a folder").AddFile("after", "a"));
    return ok ? 0 : 1;
}
