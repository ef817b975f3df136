// libFuzzer target: arbitrary bytes as an archive, read entry by entry with ZipReader and
// unpacked with UnzipArchiveToFolder into a sandbox, then again by two threads. Besides the
// sanitizers it checks that nothing appears beside the destination folder and that name
// cleaning agrees with a straightforward one-rule-at-a-time version of itself.
#include "entryname.h"
#include "unzipfolder.h"
#include "zipreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

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

QString makeSandbox()
{
    const QString base = qEnvironmentVariableIsEmpty("UNZIP_FUZZ_DIR")
        ? QStringLiteral("/dev/shm")
        : qEnvironmentVariable("UNZIP_FUZZ_DIR");
    const QString dir = base + QStringLiteral("/unzip_fuzz_")
        + QString::number(QCoreApplication::applicationPid());
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

void fail(const char* what)
{
    std::fprintf(stderr, "unzip_fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString sandbox = makeSandbox();
    const QString archive = sandbox + QStringLiteral("/in.zip");
    const QString dest = sandbox + QStringLiteral("/out/dest");

    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString asName = QString::fromUtf8(bytes.first(qMin<qsizetype>(size, 4096)));
    if (archive::CleanEntryName(asName) != slowClean(asName))
        fail("name cleaning differs from the reference");

    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the input");
        file.write(bytes.data(), bytes.size());
    }

    if (std::unique_ptr<ZipReader> reader = ZipReader::Open(archive)) {
        reader->SetBaseFolder(dest);
        const int count = reader->EntryCount().value_or(0);
        for (int i = qMin(count, 64) - 1; i >= 0; --i) {
            if (const std::optional<ZipEntryInfo> info = reader->GetEntry(i)) {
                if (archive::CleanEntryName(info->name) != info->name)
                    fail("an entry name left the reader uncleaned");
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
        fail("something was written beside the destination folder");
    const QStringList top = QDir(sandbox).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden
                                                    | QDir::System);
    for (const QString& name : top) {
        if (name != QStringLiteral("in.zip") && name != QStringLiteral("out"))
            fail("something was written outside the destination folder");
    }
    QDir(sandbox + QStringLiteral("/out")).removeRecursively();
    return 0;
}
