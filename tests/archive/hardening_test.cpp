#include "testrunner.h"

#include "archive/unzipfolder.h"
#include "archive/zipreader.h"
#include "archivefixture.h"
#include "logcapture.h"
#include "testfiles.h"
#include "zipbuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

// Archives built to get around the extractor: long comments hiding the end record, links
// waiting in the destination, entries sharing their data, sizes no disk can hold.
class HardeningTest : public ArchiveScratchTest
{
    Q_OBJECT

    QString m_elsewhere;

    // The folder beside the destination that links point into; it must never change.
    void ExpectElsewhereUntouched()
    {
        QCOMPARE(Tree(m_elsewhere), QStringList{u"target.txt"_qs});
        QCOMPARE(readFile(m_elsewhere + u"/target.txt"_qs), QByteArray("outside"));
    }

private slots:
    void init()
    {
        QVERIFY(ResetScratch());
        m_elsewhere = Scratch(u"out/elsewhere"_qs);
        QVERIFY(writeFile(m_elsewhere + u"/target.txt"_qs, "outside"));
    }

    void longCommentsHideNothing_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("within minizip's window") << 65000;
        QTest::newRow("just past it") << 65520;
        QTest::newRow("longest") << 65535;
    }

    void longCommentsHideNothing()
    {
        QFETCH(int, length);
        QVERIFY(ZipBuilder().AddFile("a.txt", Compressible(5000)).AddFile("sub/b.txt", "b").Write(m_archive));
        // A false end record inside the comment must not be taken for the real one.
        QByteArray comment = "PK\x05\x06" + QByteArray(18, '\x01');
        comment += QByteArray(length - comment.size(), 'c');
        QVERIFY(AppendArchiveComment(m_archive, comment));
        QCOMPARE(archive::UnzipArchive(m_archive, m_dest), archive::UnzipError::None);
        QCOMPARE(readFile(m_dest + u"/a.txt"_qs), Compressible(5000));
        QCOMPARE(readFile(m_dest + u"/sub/b.txt"_qs), QByteArray("b"));
    }

    void linksInTheDestinationAreNotFollowed_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("folderEntry");
        QTest::newRow("file through a folder link") << QByteArray("dirlink/x.txt") << false;
        QTest::newRow("deeper, through a folder link") << QByteArray("dirlink/new/x.txt") << false;
        QTest::newRow("folder entry through a folder link") << QByteArray("dirlink/sub/") << true;
        QTest::newRow("link one level down") << QByteArray("real/inner/x.txt") << false;
        QTest::newRow("replacing a link to a file") << QByteArray("filelink") << false;
        QTest::newRow("creating through a dangling link") << QByteArray("dangling") << false;
        QTest::newRow("writing to a device through a link") << QByteArray("full") << false;
    }

    void linksInTheDestinationAreNotFollowed()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, folderEntry);
        QVERIFY(QDir().mkpath(m_dest + u"/real"_qs));
        QVERIFY(QFile::link(u"../elsewhere"_qs, m_dest + u"/dirlink"_qs));
        QVERIFY(QFile::link(u"../../elsewhere"_qs, m_dest + u"/real/inner"_qs));
        QVERIFY(QFile::link(u"../elsewhere/target.txt"_qs, m_dest + u"/filelink"_qs));
        QVERIFY(QFile::link(u"../elsewhere/new.txt"_qs, m_dest + u"/dangling"_qs));
        QVERIFY(QFile::link(u"/dev/full"_qs, m_dest + u"/full"_qs));
        const QStringList before = Tree(m_dest);
        ZipBuilder zip;
        if (folderEntry)
            zip.AddFolder(entry);
        else
            zip.AddFile(entry, "inside");
        QVERIFY(zip.Write(m_archive));

        QCOMPARE(archive::UnzipArchive(m_archive, m_dest), archive::UnzipError::LinkInPath);
        const std::unique_ptr<ZipReader> reader = OpenReader(m_archive, m_dest);
        QVERIFY(reader);
        QCOMPARE(reader->ExtractEntry(0, QString::fromLatin1(entry)), ZipReader::Result::LinkInPath);
        ExpectElsewhereUntouched();
        QCOMPARE(Tree(m_dest), before);
    }

    void destinationItselfMayBeALink()
    {
        // Only what lies below the destination is the archive's; the destination is the caller's.
        QVERIFY(QDir().mkpath(Scratch(u"out/real-dest"_qs)));
        QVERIFY(QFile::link(u"real-dest"_qs, m_dest));
        QVERIFY(ZipBuilder().AddFile("x/y.txt", "y").Write(m_archive));
        QCOMPARE(archive::UnzipArchive(m_archive, m_dest + u"/"_qs), archive::UnzipError::None);
        QCOMPARE(readFile(Scratch(u"out/real-dest/x/y.txt"_qs)), QByteArray("y"));
    }

    void entriesSharingDataAreRefused()
    {
        // Fifty directory entries for one 1 MB run of zeros that compresses to a few kilobytes.
        ZipBuilder zip;
        for (int i = 0; i < 50; ++i)
            zip.AddFile("f" + QByteArray::number(i).rightJustified(2, '0'), QByteArray(1 << 20, '\0'));
        QVERIFY(zip.Write(m_archive));
        quint32 first = 0;
        QVERIFY(EditCentralHeaders(m_archive, [&](int index, char* header) {
            if (index == 0)
                first = GetLe32(header + 42);
            else
                PutLe32(header + 42, first);
        }));
        QCOMPARE(archive::UnzipArchive(m_archive, m_dest), archive::UnzipError::OverlappingEntries);
        QVERIFY(!QFileInfo::exists(m_dest));
    }

    void diskSpaceIsCheckedBeforeWriting()
    {
        // 4000 entries that each claim almost 4 GiB: more than any disk this runs on.
        ZipBuilder zip;
        for (int i = 0; i < 4000; ++i)
            zip.Add({.name = "e" + QByteArray::number(i), .data = "x", .deflate = false});
        QVERIFY(zip.Write(m_archive));
        QVERIFY(EditCentralHeaders(m_archive, [](int, char* header) { PutLe32(header + 24, 0xFFFFFF00u); }));
        QCOMPARE(archive::UnzipArchive(m_archive, m_dest), archive::UnzipError::DiskFull);
        QVERIFY(!QFileInfo::exists(m_dest));
        QVERIFY(!UnzipArchiveToFolder(m_archive, m_dest));
    }

    void declaredSizesBoundTheOutput()
    {
        // The free-space check trusts the declared sizes, so no entry may write more.
        QVERIFY(ZipBuilder().AddFile("big.txt", Compressible(300000)).Write(m_archive));
        QVERIFY(EditFileBytes(m_archive, [](QByteArray& bytes) {
            PutLe32(bytes.data() + 22, 1000); // the local header's unpacked size
            return true;
        }));
        QVERIFY(EditCentralHeaders(m_archive, [](int, char* header) { PutLe32(header + 24, 1000); }));
        QCOMPARE(archive::UnzipArchive(m_archive, m_dest), archive::UnzipError::CorruptData);
        QVERIFY(!QFileInfo::exists(m_dest));
        QCOMPARE(OpenReader(m_archive, m_dest)->ExtractEntry(0, u"big.txt"_qs),
                 ZipReader::Result::CorruptData);
        QCOMPARE(QFileInfo(m_dest + u"/big.txt"_qs).size(), 1000);
    }

    // 64-bit sizes from the archive are summed without wrapping: claims beyond any disk, or
    // beyond what a signed size holds, fail the free-space check instead of passing it.
    void hugeSizesNeverWrap_data()
    {
        QTest::addColumn<quint64>("claimed");
        QTest::addColumn<int>("entries");
        QTest::newRow("sum wraps") << quint64(0x7FFFFFFFFFFF0000) << 2;
        QTest::newRow("beyond signed") << quint64(0xFFFFFFFFFFFFFFF0) << 1;
    }

    void hugeSizesNeverWrap()
    {
        QFETCH(quint64, claimed);
        QFETCH(int, entries);
        ZipBuilder zip;
        // The 64-bit sizes' block, the unpacked size only; the writer drops one it is handed,
        // so it goes in under another tag that is then changed.
        QByteArray extra("\x99\x99\x08\x00", 4);
        for (int i = 0; i < 8; ++i)
            extra.append(char((claimed >> (8 * i)) & 0xFF));
        for (int i = 0; i < entries; ++i)
            zip.Add({.name = "huge" + QByteArray::number(i),
                     .data = "x",
                     .deflate = false,
                     .centralExtra = extra});
        QVERIFY(zip.Write(m_archive));
        QVERIFY(EditCentralHeaders(m_archive, [](int, char* header) {
            PutLe32(header + 24, 0xFFFFFFFF);
            const int nameLength = quint8(header[28]) | quint8(header[29]) << 8;
            header[46 + nameLength] = 1;
            header[47 + nameLength] = 0;
        }));
        QCOMPARE(ZipReader::Open(m_archive)->GetEntry(0)->uncompressedSize,
                 qint64(qMin<quint64>(claimed, quint64(std::numeric_limits<qint64>::max()))));
        QCOMPARE(archive::UnzipArchive(m_archive, m_dest), archive::UnzipError::DiskFull);
        QVERIFY(!QFileInfo::exists(m_dest));
    }

    void failuresAreLoggedAsInstallProblems()
    {
        QVERIFY(writeFile(m_archive, Compressible(3000)));
        LogCapture log(u"yfzs.install"_qs);
        QCOMPARE(archive::UnzipArchive(m_archive, m_dest), archive::UnzipError::NotAnArchive);
        const QStringList logged = log.Take();
        QCOMPARE(logged.size(), 1);
        QVERIFY2(logged[0].startsWith(u"yfzs.install: "_qs) && logged[0].contains(m_archive),
                 qPrintable(logged[0]));
    }
};

YFZS_TEST_CLASS(HardeningTest)
#include "hardening_test.moc"
