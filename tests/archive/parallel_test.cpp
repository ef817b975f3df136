#include "testrunner.h"

#include "archive/extractplan.h"
#include "archive/unzipfolder.h"
#include "archivefixture.h"
#include "testfiles.h"
#include "zipbuilder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <pthread.h>
#include <sys/resource.h>

namespace {

// Files with their contents, permissions and modification times, as one comparable list.
QStringList snapshot(const QString& root)
{
    QStringList out;
    for (const QString& path : Tree(root)) {
        const QFileInfo info(root + u"/"_qs + path);
        QString line = path;
        if (info.isFile() && !info.isSymLink()) {
            line += u" "_qs
                + QString::fromLatin1(
                        QCryptographicHash::hash(readFile(info.filePath()), QCryptographicHash::Md5).toHex());
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
        QVERIFY(!QFileInfo::exists(Scratch(u"many"_qs)));
    }

    // A damaged pack over an installed game: whether an entry fails while being written or the
    // move into place fails late, the folder is exactly as before, with any number of threads.
    void failedUnpackChangesNothing_data()
    {
        QTest::addColumn<int>("workers");
        QTest::addColumn<bool>("lateFailure");
        QTest::newRow("one thread, bad data") << 1 << false;
        QTest::newRow("threads, bad data") << 3 << false;
        QTest::newRow("one thread, late") << 1 << true;
        QTest::newRow("threads, late") << 3 << true;
    }

    void failedUnpackChangesNothing()
    {
        QFETCH(int, workers);
        QFETCH(bool, lateFailure);
        const archive::UnzipOptions options{workers, 0};
        const QString game = Scratch(u"game"_qs);
        QVERIFY(writeFile(game + u"/rez/UI/skin.txt"_qs, "installed skin"));
        QVERIFY(writeFile(game + u"/rez/UI/Lobby/background_hd.png"_qs, Compressible(70000)));
        QVERIFY(writeFile(game + u"/dup.txt"_qs, "installed dup"));
        QVERIFY(writeFile(game + u"/deep/d3"_qs, "installed d3"));
        const QStringList before = snapshot(game);

        ZipBuilder zip = Mixed(); // replaces dup.txt and deep/d3, makes skins/
        zip.AddFile("rez/UI/skin.txt", "new skin");
        zip.Add({.name = "rez/UI/Lobby/background_hd.png", .data = Compressible(90000), .deflate = false});
        zip.AddFile("rez/UI/Lobby/new.png", "n");
        if (lateFailure) // noticed only when the file is moved over the folder the next entry made
            zip.AddFile("taken", "t").AddFile("taken/inside", "i");
        QVERIFY(zip.Write(m_archive));
        if (!lateFailure) {
            QVERIFY(EditFileBytes(m_archive, [](QByteArray& bytes) {
                const qsizetype data = bytes.indexOf("background_hd.png") + 17;
                bytes[data + 5000] = char(bytes[data + 5000] ^ 0x20); // fails its CRC
                return true;
            }));
        }
        QVERIFY(archive::UnzipArchive(m_archive, game, options) != archive::UnzipError::None);
        QCOMPARE(snapshot(game), before);
    }

    // Threads that cannot be started leave their work to those that could.
    void unstartableThreadsAreNoFailure()
    {
        QVERIFY(Mixed().Write(m_archive));
        pthread_attr_t saved;
        QCOMPARE(pthread_getattr_default_np(&saved), 0);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, size_t(1) << 47); // more address space than there is
        QCOMPARE(pthread_setattr_default_np(&huge), 0);
        const archive::UnzipError error = archive::UnzipArchive(m_archive, Scratch(u"many"_qs), {4, 0});
        pthread_setattr_default_np(&saved);
        pthread_attr_destroy(&huge);
        pthread_attr_destroy(&saved);
        QCOMPARE(error, archive::UnzipError::None);
        QCOMPARE(readFile(Scratch(u"many/dup.txt"_qs)), QByteArray("last wins"));
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
