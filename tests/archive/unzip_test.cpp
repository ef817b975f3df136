#include "testenv.h"
#include "testrunner.h"

#include "archive/unzipfolder.h"
#include "archive/zipreader.h"
#include "archivefixture.h"
#include "platform/codec.h"
#include "testfiles.h"
#include "zipbuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

// Whole archives unpacked into folders, through the call that the page and the dialog use.
class UnzipTest : public ArchiveScratchTest
{
    Q_OBJECT

    bool Unzip(const ZipBuilder& builder)
    {
        return builder.Write(m_archive) && UnzipArchiveToFolder(m_archive, m_dest);
    }

private slots:
    void init() { QVERIFY(ResetScratch()); }

    void climbingNamesLandInside()
    {
        ZipBuilder zip;
        zip.AddFile("../x1.txt", "1").AddFile("a/../../x2.txt", "2").AddFile("\\x3.txt", "3");
        zip.AddFile("C:\\x4.txt", "4").AddFile("/../..\\C:/x5.txt", "5").AddFile("..\\..\\x6.txt", "6");
        QVERIFY(Unzip(zip));
        QCOMPARE(Tree(Scratch(u"out"_qs)),
                 (QStringList{u"dest/"_qs, u"dest/x1.txt"_qs, u"dest/x2.txt"_qs, u"dest/x3.txt"_qs,
                              u"dest/x4.txt"_qs, u"dest/x5.txt"_qs, u"dest/x6.txt"_qs}));
        QCOMPARE(readFile(m_dest + u"/x5.txt"_qs), QByteArray("5"));
    }

    void foldersAndNesting()
    {
        ZipBuilder zip;
        zip.AddFolder("skins/").AddFile("skins/a.png", Compressible(100000));
        zip.AddFile("deep\\er/b.txt", "b").AddFolder("empty/");
        zip.Add({.name = "ufolder", .versionMadeBy = UnixHost(), .externalAttributes = UnixMode(0040755)});
        QVERIFY(Unzip(zip));
        QCOMPARE(Tree(m_dest),
                 (QStringList{u"deep/"_qs, u"deep/er/"_qs, u"deep/er/b.txt"_qs, u"empty/"_qs, u"skins/"_qs,
                              u"skins/a.png"_qs, u"ufolder/"_qs}));
        QCOMPARE(readFile(m_dest + u"/skins/a.png"_qs), Compressible(100000));
    }

    void folderEntryWithoutFolderAttributeFails()
    {
        ZipBuilder zip;
        zip.AddFile("first.txt", "1").AddFile("skins/", "").AddFile("after.txt", "2");
        QVERIFY(!Unzip(zip));
        QVERIFY(!QFileInfo::exists(m_dest));
    }

    void destinationPreparation()
    {
        // Empty archive: true once the destination is prepared.
        QVERIFY(ZipBuilder().Write(m_archive));
        QVERIFY(UnzipArchiveToFolder(m_archive, Scratch(u"new\\deeper\\"_qs)));
        QVERIFY(QFileInfo(Scratch(u"new/deeper"_qs)).isDir());
        // Without a trailing separator the parent chain comes first, the last level with an entry.
        QVERIFY(ZipBuilder().AddFile("f", "x").Write(m_archive));
        QVERIFY(UnzipArchiveToFolder(m_archive, Scratch(u"n1/n2/n3"_qs)));
        QCOMPARE(readFile(Scratch(u"n1/n2/n3/f"_qs)), QByteArray("x"));
        // A file where the destination's parent should be.
        QVERIFY(!UnzipArchiveToFolder(m_archive, m_archive + u"/sub/dest"_qs));
    }

    void badArgumentsTouchNothing()
    {
        QVERIFY(ZipBuilder().AddFile("f", "x").Write(m_archive));
        QVERIFY(!UnzipArchiveToFolder(QString(), m_dest));
        QVERIFY(!UnzipArchiveToFolder(m_archive, QString()));
        QVERIFY(!UnzipArchiveToFolder(Scratch(u"in/missing.zip"_qs), m_dest));
        QVERIFY(!QFileInfo::exists(m_dest));
        QVERIFY(writeFile(Scratch(u"in/not.zip"_qs), Compressible(5000)));
        QVERIFY(!UnzipArchiveToFolder(Scratch(u"in/not.zip"_qs), m_dest));
        QVERIFY(!UnzipArchiveToFolder(Scratch(u"in"_qs), m_dest));
        QVERIFY(Tree(m_dest).isEmpty());
    }

    void unpackingTwiceReplacesFiles()
    {
        QVERIFY(ZipBuilder().AddFile("a.txt", "new contents").Write(m_archive));
        QVERIFY(writeFile(m_dest + u"/a.txt"_qs, Compressible(50000)));
        QVERIFY(UnzipArchiveToFolder(m_archive, m_dest));
        QVERIFY(UnzipArchiveToFolder(m_archive, m_dest + u"\\"_qs));
        QCOMPARE(readFile(m_dest + u"/a.txt"_qs), QByteArray("new contents"));
    }

    void readOnlyFilesStayReadOnly()
    {
        ZipBuilder zip;
        zip.AddFile("writable.txt", "w")
            .Add({"unix-ro.txt", "u", UnixHost(), UnixMode(0100444)})
            .Add({.name = "dos-ro.txt", .data = "d", .externalAttributes = 0x21});
        QVERIFY(Unzip(zip));
        for (const char16_t* name : {u"/unix-ro.txt", u"/dos-ro.txt"}) {
            const QFileInfo info(m_dest + QString::fromUtf16(name));
            QCOMPARE(info.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther), 0);
            QVERIFY(info.permissions() & QFile::ReadOwner);
        }
        QVERIFY(QFileInfo(m_dest + u"/writable.txt"_qs).permissions() & QFile::WriteOwner);
        // The second pass fails at the read-only file, even for root, and leaves it alone.
        QVERIFY(!UnzipArchiveToFolder(m_archive, m_dest));
        QCOMPARE(readFile(m_dest + u"/unix-ro.txt"_qs), QByteArray("u"));
    }

    void nameTakenByFolderFails()
    {
        QDir().mkpath(m_dest + u"/taken/inner"_qs);
        QVERIFY(!Unzip(ZipBuilder().AddFile("taken", "x")));
        QVERIFY(QFileInfo(m_dest + u"/taken/inner"_qs).isDir());
    }

    void timeStamps()
    {
        ZipBuilder zip;
        zip.Add(
            {.name = "ut.txt",
             .data = "t",
             .localExtra = QByteArray("xy\x02\x00zz", 6) + ExtendedTimestamp(3, {1000000000, 1100000000})});
        zip.AddFile("dos.txt", "d");
        EnvGuard env;
        env.Set("TZ", "Asia/Shanghai");
        QVERIFY(Unzip(zip));
        const QFileInfo ut(m_dest + u"/ut.txt"_qs);
        QCOMPARE(ut.lastModified().toSecsSinceEpoch(), 1000000000);
        QCOMPARE(ut.lastRead().toSecsSinceEpoch(), 1100000000);
        const QFileInfo dos(m_dest + u"/dos.txt"_qs);
        const QDateTime local(QDate(2025, 4, 10), QTime(12, 0), Qt::LocalTime);
        QCOMPARE(dos.lastModified(), local);
        QCOMPARE(dos.lastRead(), local);

        std::unique_ptr<ZipReader> reader = ZipReader::Open(m_archive);
        QVERIFY(reader);
        const std::optional<ZipEntryInfo> info = reader->GetEntry(0);
        QVERIFY(info);
        QCOMPARE(info->modificationTime, archive::UnixSecondsToFileTime(1000000000));
        QCOMPARE(info->accessTime, archive::UnixSecondsToFileTime(1100000000));
        QCOMPARE(info->creationTime, archive::DosDateTimeToFileTime(0x5A8A6000));
    }

    void encryptedEntryStops()
    {
        const ZipEntryFixture secret{.name = "secret.txt", .data = Compressible(3000), .password = "pw"};
        QVERIFY(writeFile(m_dest + u"/secret.txt"_qs, "keep me"));
        QVERIFY(!Unzip(ZipBuilder().AddFile("before.txt", "b").Add(secret).AddFile("after.txt", "a")));
        QCOMPARE(Tree(m_dest), (QStringList{u"secret.txt"_qs}));
        QCOMPARE(readFile(m_dest + u"/secret.txt"_qs), QByteArray("keep me"));

        QCOMPARE(OpenReader(m_archive, m_dest)->ExtractEntry(1, u"secret.txt"_qs),
                 ZipReader::Result::Password);
    }

    void corruptDataStops_data() { AddFlagRows("deflate", "stored, crc", "deflated"); }

    void corruptDataStops()
    {
        QFETCH(bool, deflate);
        const ZipEntryFixture bad{.name = "bad.bin", .data = Compressible(200000), .deflate = deflate};
        QVERIFY(ZipBuilder().AddFile("good.txt", "g").Add(bad).AddFile("after.txt", "a").Write(m_archive));
        QVERIFY(EditFileBytes(m_archive, [](QByteArray& bytes) {
            const qsizetype dataStart = bytes.indexOf("bad.bin") + 7;
            for (qsizetype i = dataStart + 40; i < dataStart + 400; i += 3)
                bytes[i] = char(bytes[i] ^ 0x5A);
            return true;
        }));
        QVERIFY(!UnzipArchiveToFolder(m_archive, m_dest));
        QCOMPARE(Tree(Scratch(u"out"_qs)), QStringList());

        const std::unique_ptr<ZipReader> reader = OpenReader(m_archive, m_dest);
        QCOMPARE(reader->ExtractEntry(1, u"bad.bin"_qs), ZipReader::Result::CorruptData);
        QCOMPARE(reader->ExtractEntry(2, u"after.txt"_qs), ZipReader::Result::Ok);
    }

    void truncatedArchiveIsRefused()
    {
        QVERIFY(ZipBuilder().AddFile("a.txt", Compressible(10000)).Write(m_archive));
        QFile file(m_archive);
        QVERIFY(file.resize(file.size() - 30));
        QVERIFY(!UnzipArchiveToFolder(m_archive, m_dest));
        QVERIFY(!ZipReader::Open(m_archive));
    }

    void utf8FlagAndGbkNames()
    {
        const QString skin = u"皮肤/图标.png"_qs;
        const QString readme = u"说明.txt"_qs;
        QVERIFY(Unzip(ZipBuilder()
                          .Add({.name = skin.toUtf8(), .data = "u", .utf8Flag = true})
                          .Add({platform::ToAnsi(readme), "g"})));
        QCOMPARE(Tree(m_dest), (QStringList{u"皮肤/"_qs, skin, readme}));
        QCOMPARE(readFile(m_dest + u"/"_qs + skin), QByteArray("u"));
    }

    void longNamesAreNeverCut()
    {
        // Longer than the 259 units of the original limit, but each level fits the file system.
        const QByteArray longPath = QByteArray(200, 'd') + "/" + QByteArray(200, 'f');
        QVERIFY(Unzip(ZipBuilder().AddFile(longPath, "ok")));
        QCOMPARE(readFile(m_dest + u"/"_qs + QString::fromLatin1(longPath)), QByteArray("ok"));
        // A level the file system cannot hold fails the entry instead of being shortened.
        const QByteArray tooLong = QByteArray(300, 'n');
        QVERIFY(!Unzip(ZipBuilder().AddFile("first", "1").AddFile(tooLong, "x").AddFile("last", "2")));
        QCOMPARE(Tree(m_dest), (QStringList{QString(200, u'd') + u"/"_qs, QString::fromLatin1(longPath)}));
    }

    void symbolicLinkEntriesBecomeFiles()
    {
        const ZipEntryFixture link{"link", "../../../etc/passwd", UnixHost(), UnixMode(0120777)};
        QVERIFY(Unzip(ZipBuilder().Add(link)));
        const QFileInfo info(m_dest + u"/link"_qs);
        QVERIFY(info.isFile());
        QVERIFY(!info.isSymLink());
        QCOMPARE(readFile(info.filePath()), QByteArray("../../../etc/passwd"));
        QVERIFY(!Unzip(ZipBuilder().Add(link).Add({"link/inside.txt", "x", UnixHost(), UnixMode(0100644)})));
        QCOMPARE(Tree(Scratch(u"out"_qs)), (QStringList{u"dest/"_qs, u"dest/link"_qs}));
    }

    void failedWriteStops()
    {
        // Writing through a link to /dev/full is refused now; a file size limit fails a real write.
        QDir().mkpath(m_dest);
        QVERIFY(ZipBuilder().AddFile("full", Compressible(40000)).AddFile("next", "n").Write(m_archive));
        const FileSizeLimit limit(20000);
        QVERIFY(limit.IsActive());
        QCOMPARE(OpenReader(m_archive, m_dest)->ExtractEntry(0, u"full"_qs), ZipReader::Result::WriteError);
        QVERIFY(!UnzipArchiveToFolder(m_archive, m_dest));
        QVERIFY(!QFileInfo::exists(m_dest + u"/next"_qs));
    }
};

YFZS_TEST_CLASS(UnzipTest)
#include "unzip_test.moc"
