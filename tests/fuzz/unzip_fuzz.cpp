// Fuzz target: arbitrary bytes as an archive, read entry by entry with ZipReader and
// unpacked with UnzipArchiveToFolder into a sandbox, then again by two threads. Besides the
// sanitizers it checks that nothing appears beside the destination folder and that name
// cleaning agrees with a straightforward one-rule-at-a-time version of itself.
#include "archive/entryname.h"
#include "archive/unzipfolder.h"
#include "archive/zipreader.h"
#include "fuzzcommon.h"
#include "zipbuilder.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>

namespace {

ZipEntryFixture entry(const QByteArray& name, const QByteArray& data)
{
    ZipEntryFixture e;
    e.name = name;
    e.data = data;
    return e;
}

QString slowClean(QString name)
{
    for (;;) {
        if (name.size() >= 2 && name[1] == u':') {
            name.remove(0, 2);
        } else if (name.startsWith(u'\\') || name.startsWith(u'/')) {
            name.remove(0, 1);
        } else if (name.startsWith(u"..\\") || name.startsWith(u"../")) {
            name.remove(0, 3);
        } else {
            bool found = false;
            for (const char16_t* climb : {u"\\..\\", u"\\../", u"/../", u"/..\\"}) {
                const qsizetype at = name.indexOf(QStringView(climb));
                if (at >= 0) {
                    name.remove(0, at + 4);
                    found = true;
                    break;
                }
            }
            if (!found)
                return name;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString sandbox = fuzz::Sandbox();
    const QString archive = sandbox + QStringLiteral("/in.zip");
    const QString dest = sandbox + QStringLiteral("/out/dest");

    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString asName = QString::fromUtf8(bytes.first(qMin<qsizetype>(size, 4096)));
    if (archive::CleanEntryName(asName) != slowClean(asName))
        fuzz::Fail("name cleaning differs from the reference");

    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fuzz::Fail("cannot write the input");
        file.write(bytes.data(), bytes.size());
    }

    if (std::unique_ptr<ZipReader> reader = ZipReader::Open(archive)) {
        reader->SetBaseFolder(dest);
        const int count = reader->EntryCount().value_or(0);
        for (int i = qMin(count, 64) - 1; i >= 0; --i) {
            if (const std::optional<ZipEntryInfo> info = reader->GetEntry(i)) {
                if (archive::CleanEntryName(info->name) != info->name)
                    fuzz::Fail("an entry name left the reader uncleaned");
            }
        }
        reader->GetEntry(count);
        reader->GetEntry(-1);
    }

    UnzipArchiveToFolder(archive, dest);
    // Once more over what the first pass left, by two threads whatever the size.
    archive::UnzipOptions parallel;
    parallel.workers = 2;
    parallel.parallelFrom = 0;
    archive::UnzipArchive(archive, dest, parallel);

    const QStringList beside = QDir(sandbox + QStringLiteral("/out"))
                                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden
                                              | QDir::System);
    if (!beside.isEmpty() && beside != QStringList{QStringLiteral("dest")})
        fuzz::Fail("something was written beside the destination folder");
    const QStringList top = QDir(sandbox).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden
                                                    | QDir::System);
    for (const QString& name : top) {
        if (name != QStringLiteral("in.zip") && name != QStringLiteral("out"))
            fuzz::Fail("something was written outside the destination folder");
    }
    QDir(sandbox + QStringLiteral("/out")).removeRecursively();
    return 0;
}

// Small archives that reach each branch of the reader: climbing names, folders, UTF-8 and GBK
// names, times, hosts, methods, encryption.
QList<QByteArray> FuzzSeeds()
{
    QList<QByteArray> seeds;
    seeds.append(ZipBuilder().Bytes());
    seeds.append(ZipBuilder()
                     .AddFile("a.txt", "hello")
                     .AddFolder("skins/")
                     .AddFile("skins/b.png", QByteArray(300, 'b'))
                     .Bytes());
    seeds.append(ZipBuilder()
                     .AddFile("../x", "1")
                     .AddFile("a/../../y", "2")
                     .AddFile("C:\\z", "3")
                     .AddFile("\\w\\..\\v", "4")
                     .Bytes());
    ZipEntryFixture utf8 = entry(QStringLiteral("皮肤/图标.png").toUtf8(), "u");
    utf8.utf8Flag = true;
    seeds.append(ZipBuilder().Add(utf8).Add(entry("\xc6\xa4\xb7\xf4.txt", "g")).Bytes());
    ZipEntryFixture ut = entry("t.txt", "t");
    ut.localExtra = ExtendedTimestamp(7, {1000000000, 1100000000, 1200000000});
    ZipEntryFixture stored = entry("s.bin", QByteArray(2000, 's'));
    stored.deflate = false;
    seeds.append(ZipBuilder().Add(ut).Add(stored).Bytes());
    ZipEntryFixture link = entry("link", "../../etc/passwd");
    link.versionMadeBy = UnixHost();
    link.externalAttributes = UnixMode(0120777);
    ZipEntryFixture ro = entry("ro.txt", "r");
    ro.versionMadeBy = UnixHost();
    ro.externalAttributes = UnixMode(0100444);
    ZipEntryFixture unixDir = entry("udir", {});
    unixDir.versionMadeBy = UnixHost();
    unixDir.externalAttributes = UnixMode(0040755);
    seeds.append(ZipBuilder().Add(link).Add(ro).Add(unixDir).Bytes());
    ZipEntryFixture secret = entry("secret", "pw protected");
    secret.password = "pw";
    seeds.append(ZipBuilder().AddFile("before", "b").Add(secret).Bytes());
    seeds.append(ZipBuilder().AddFile("skins/", "not a folder").AddFile("after", "a").Bytes());
    return seeds;
}
