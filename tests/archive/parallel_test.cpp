#include "testrunner.h"

#include "archivefixture.h"
#include "extractplan.h"
#include "testfiles.h"
#include "unzipfolder.h"
#include "zipbuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {

// Files with their contents, permissions and modification times, as one comparable list.
QStringList snapshot(const QString& root)
{
    QStringList out;
    for (const QString& path : Tree(root)) {
        const QFileInfo info(root + u"/"_qs + path);
        QString line = path;
        if (info.isFile() && !info.isSymLink()) {
            line += u" "_qs + QString::fromLatin1(readFile(info.filePath()).toHex().left(32));
            line += u" "_qs + QString::number(int(info.permissions()), 16);
            line += u" "_qs + QString::number(info.lastModified().toSecsSinceEpoch());
        }
        out << line;
    }
    return out;
}

const archive::UnzipOptions kParallel{2, 0};
const archive::UnzipOptions kSequential{1, 0};

} // namespace

// Entries written by several threads at once end up exactly as when written one by one.
class ParallelTest : public ArchiveScratchTest
{
    Q_OBJECT

    // Many independent entries around the ones whose order matters.
    static ZipBuilder Mixed()
    {
        ZipBuilder zip;
        zip.AddFile("dup.txt", "first").AddFolder("skins/");
        for (int i = 0; i < 40; ++i)
            zip.AddFile("skins/s" + QByteArray::number(i) + ".png", Compressible(1000 + 3000 * (i % 7)));
        zip.AddFile("dup.txt", Compressible(200000)); // heavy, so its group is taken first
        zip.Add({.name = "deep\\ro.txt",
                 .data = "read only",
                 .externalAttributes = 0x21,
                 .localExtra = ExtendedTimestamp(1, {1200000000})});
        for (int i = 0; i < 40; ++i)
            zip.AddFile("deep/d" + QByteArray::number(i), Compressible(500 * i));
        zip.AddFile("./dup.txt", "third spelling");
        zip.AddFile("deep//d7", "replaced d7").AddFile("skins\\s3.png", "replaced s3");
        zip.AddFile("dup.txt", "last wins");
        return zip;
    }

private slots:
    void init() { QVERIFY(ResetScratch()); }

    void sameTreeAsOneByOne()
    {
        QVERIFY(Mixed().Write(m_archive));
        const QString one = Scratch(u"one"_qs);
        QCOMPARE(archive::UnzipArchive(m_archive, one, kSequential), archive::UnzipError::None);
        for (int round = 0; round < 5; ++round) {
            const QString many = Scratch(u"many"_qs) + QString::number(round);
            QCOMPARE(archive::UnzipArchive(m_archive, many, kParallel), archive::UnzipError::None);
            QCOMPARE(snapshot(many), snapshot(one));
        }
        QCOMPARE(readFile(one + u"/dup.txt"_qs), QByteArray("last wins"));
        QCOMPARE(readFile(one + u"/deep/d7"_qs), QByteArray("replaced d7"));
        QCOMPARE(readFile(one + u"/skins/s3.png"_qs), QByteArray("replaced s3"));
    }

    void anyFailureFailsTheCall()
    {
        ZipBuilder zip = Mixed();
        zip.AddFile("taken", "t").AddFile("taken/inside", "i"); // a file where a folder must go
        QVERIFY(zip.Write(m_archive));
        QCOMPARE(archive::UnzipArchive(m_archive, Scratch(u"one"_qs), kSequential),
                 archive::UnzipError::CannotCreate);
        QCOMPARE(archive::UnzipArchive(m_archive, Scratch(u"many"_qs), kParallel),
                 archive::UnzipError::CannotCreate);
        QCOMPARE(readFile(Scratch(u"many/taken"_qs)), QByteArray("t"));
    }

    void linksStayRefused()
    {
        QVERIFY(writeFile(Scratch(u"elsewhere/keep"_qs), "k"));
        QVERIFY(QDir().mkpath(Scratch(u"many"_qs)));
        QVERIFY(QFile::link(u"../elsewhere"_qs, Scratch(u"many/deep"_qs)));
        QVERIFY(Mixed().Write(m_archive));
        QCOMPARE(archive::UnzipArchive(m_archive, Scratch(u"many"_qs), kParallel),
                 archive::UnzipError::LinkInPath);
        QCOMPARE(Tree(Scratch(u"elsewhere"_qs)), QStringList{u"keep"_qs});
    }

    void planKeepsOrderWhereItMatters()
    {
        const QList<archive::PlanEntry> entries{
            {u"a/x"_qs, false, 10},    // 0
            {u"b/"_qs, true, 0},       // 1: a folder entry orders nothing below it
            {u"b/y"_qs, false, 5},     // 2
            {u"a\\\\x"_qs, false, 1},  // 3: the same path as 0
            {u"c"_qs, false, 1},       // 4: a file ...
            {u"c/z/w"_qs, false, 100}, // 5: ... named like a folder of this one
            {u"b/./q/.."_qs, true, 0}, // 6: leads to b, like 1
        };
        const QList<QList<int>> groups = archive::PlanExtraction(entries);
        QCOMPARE(groups, (QList<QList<int>>{{4, 5}, {0, 3}, {2}, {1, 6}}));
        QCOMPARE(archive::PathKey(u"./a//b\\c/.."_qs), u"a/b"_qs);
    }
};

YFZS_TEST_CLASS(ParallelTest)
#include "parallel_test.moc"
