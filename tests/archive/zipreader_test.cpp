#include "testrunner.h"

#include "archive/zipreader.h"
#include "archivefixture.h"
#include "testfiles.h"
#include "zipbuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The entry-level reader on its own: listing, positioning and the extraction results.
class ZipReaderTest : public QObject
{
    Q_OBJECT

private slots:
    void listingAndPositioning()
    {
        QTemporaryDir tmp;
        const QString archive = tmp.path() + u"/a.zip"_qs;
        ZipBuilder zip;
        for (int i = 0; i < 5; ++i)
            zip.AddFile("../f" + QByteArray::number(i), QByteArray(i * 1000, char('a' + i)));
        QVERIFY(zip.Write(archive));

        std::unique_ptr<ZipReader> reader = ZipReader::Open(archive);
        QVERIFY(reader);
        QCOMPARE(reader->EntryCount(), 5);
        const std::optional<ZipEntryInfo> count = reader->GetEntry(-1);
        QVERIFY(count);
        QCOMPARE(count->index, 5);
        QVERIFY(count->name.isEmpty() && count->attributes == 0 && count->modificationTime == 0);
        QVERIFY(!reader->GetEntry(-2));
        QVERIFY(!reader->GetEntry(5));

        // Backwards and repeated queries walk again from the start as needed.
        for (int i : {4, 1, 1, 3, 0}) {
            const std::optional<ZipEntryInfo> info = reader->GetEntry(i);
            QVERIFY(info);
            QCOMPARE(info->index, i);
            QCOMPARE(info->name, u"f"_qs + QString::number(i));
            QCOMPARE(info->uncompressedSize, i * 1000);
            QCOMPARE(info->attributes, 0x20u);
        }

        reader->SetBaseFolder(tmp.path() + u"/out"_qs);
        QCOMPARE(reader->BaseFolder(), tmp.path() + u"/out\\"_qs);
        QCOMPARE(reader->ExtractEntry(3, u"sub/three"_qs), ZipReader::Result::Ok);
        QCOMPARE(reader->ExtractEntry(1, u"one"_qs), ZipReader::Result::Ok);
        QCOMPARE(readFile(tmp.path() + u"/out/sub/three"_qs), QByteArray(3000, 'd'));
        QCOMPARE(QFileInfo(tmp.path() + u"/out/one"_qs).size(), 1000);

        QCOMPARE(reader->ExtractEntry(5, u"x"_qs), ZipReader::Result::BadArguments);
        QCOMPARE(reader->ExtractEntry(-1, u"x"_qs), ZipReader::Result::BadArguments);
        // A target name chosen by the caller cannot leave the base folder either.
        QCOMPARE(reader->ExtractEntry(0, u"../escape"_qs), ZipReader::Result::BadArguments);
        QCOMPARE(reader->ExtractEntry(0, u"/abs"_qs), ZipReader::Result::BadArguments);
        QVERIFY(!QFileInfo::exists(tmp.path() + u"/escape"_qs));

        reader->Close();
        QVERIFY(!reader->GetEntry(0));
        QVERIFY(!reader->EntryCount());
        QCOMPARE(reader->ExtractEntry(0, u"x"_qs), ZipReader::Result::BadArguments);
    }

    void folderRemovedBetweenEntries()
    {
        // The reader checks a run of entries' folder once; losing it mid-way must not fail.
        QTemporaryDir tmp;
        const QString archive = tmp.path() + u"/a.zip"_qs;
        QVERIFY(ZipBuilder().AddFile("sub/a", "1").AddFile("sub/b", "2").Write(archive));
        const std::unique_ptr<ZipReader> reader = OpenReader(archive, tmp.path() + u"/out/"_qs);
        QCOMPARE(reader->ExtractEntry(0, u"sub/a"_qs), ZipReader::Result::Ok);
        QVERIFY(QDir(tmp.path() + u"/out/sub"_qs).removeRecursively());
        QCOMPARE(reader->ExtractEntry(1, u"sub/b"_qs), ZipReader::Result::Ok);
        QVERIFY(QFileInfo::exists(tmp.path() + u"/out/sub/b"_qs));
    }

    void openRefusesWhatIsNotAnArchive()
    {
        QTemporaryDir tmp;
        QVERIFY(!ZipReader::Open(tmp.path() + u"/missing.zip"_qs));
        QVERIFY(!ZipReader::Open(tmp.path()));
        QVERIFY(!ZipReader::Open(QString()));
        QVERIFY(writeFile(tmp.path() + u"/empty.zip"_qs, QByteArray()));
        QVERIFY(!ZipReader::Open(tmp.path() + u"/empty.zip"_qs));
    }
};

YFZS_TEST_CLASS(ZipReaderTest)
#include "zipreader_test.moc"
