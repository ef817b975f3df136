#include "testrunner.h"

#include "platform/confinedfiles.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using platform::FsError;

// Folders and files opened level by level below a folder, never through a link.
class ConfinedFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void foldersAreReachedWithoutLinks()
    {
        QTemporaryDir tmp;
        QVERIFY(QDir().mkpath(tmp.path() + u"/base/real"_qs));
        QVERIFY(QFile::link(u"real"_qs, tmp.path() + u"/base/link"_qs));
        QVERIFY(writeFile(tmp.path() + u"/base/file"_qs, "f"));

        FsError error = FsError::Other;
        const platform::Folder base = platform::Folder::Open(tmp.path() + u"/base"_qs, false, &error);
        QVERIFY(base.IsValid());
        QCOMPARE(error, FsError::None);
        QVERIFY(base.Sub(u"real"_qs, false).IsValid());
        QVERIFY(!base.Sub(u"link"_qs, true, &error).IsValid());
        QCOMPARE(error, FsError::Link);
        QVERIFY(!base.Sub(u"file"_qs, true, &error).IsValid());
        QCOMPARE(error, FsError::NotFolder);
        QVERIFY(!base.Sub(u"missing"_qs, false, &error).IsValid());
        QCOMPARE(error, FsError::NotFound);
        QVERIFY(base.Sub(u"made"_qs, true).IsValid());
        QVERIFY(QFileInfo(tmp.path() + u"/base/made"_qs).isDir());
        QVERIFY(!base.Sub(u"a/b"_qs, true).IsValid());

        // The folder opened first may itself be a link, and its last level is made on request.
        QVERIFY(platform::Folder::Open(tmp.path() + u"/base/link"_qs, false).IsValid());
        QVERIFY(platform::Folder::Open(tmp.path() + u"/base/new"_qs, true).IsValid());
        QVERIFY(!platform::Folder::Open(tmp.path() + u"/none/new"_qs, true, &error).IsValid());
        QCOMPARE(error, FsError::NotFound);
    }

    void filesAreReplacedOnlyWhenRegularAndWritable()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.path();
        QVERIFY(writeFile(dir + u"/target"_qs, "outside"));
        QVERIFY(writeFile(dir + u"/old"_qs, "old contents"));
        QVERIFY(writeFile(dir + u"/locked"_qs, "locked"));
        QVERIFY(QFile::setPermissions(dir + u"/locked"_qs, QFile::ReadOwner));
        QVERIFY(QFile::link(u"target"_qs, dir + u"/link"_qs));
        QVERIFY(QFile::link(u"nowhere"_qs, dir + u"/dangling"_qs));
        QVERIFY(QDir().mkpath(dir + u"/folder"_qs));
        QCOMPARE(QProcess::execute(u"mkfifo"_qs, {dir + u"/fifo"_qs}), 0);
        const platform::Folder folder = platform::Folder::Open(dir, false);

        const struct
        {
            const char16_t* name;
            FsError error;
        } refused[] = {{u"link", FsError::Link},
                       {u"dangling", FsError::Link},
                       {u"folder", FsError::NotRegularFile},
                       {u"fifo", FsError::NotRegularFile},
                       {u"locked", FsError::ReadOnly}};
        for (const auto& r : refused) {
            FsError error = FsError::None;
            QVERIFY(
                !platform::OutputFile::Create(folder, QString::fromUtf16(r.name), false, &error).IsValid());
            QCOMPARE(error, r.error);
        }
        QCOMPARE(readFile(dir + u"/target"_qs), QByteArray("outside"));
        QVERIFY(!QFileInfo::exists(dir + u"/nowhere"_qs));
        QCOMPARE(readFile(dir + u"/locked"_qs), QByteArray("locked"));

        {
            platform::OutputFile file = platform::OutputFile::Create(folder, u"old"_qs, true);
            QVERIFY(file.IsValid());
            QVERIFY(file.Write("new", 3));
            QVERIFY(file.SetTimes(0, 1000000000LL * 1000000000LL + 5000000));
        }
        const QFileInfo replaced(dir + u"/old"_qs);
        QCOMPARE(readFile(replaced.filePath()), QByteArray("new"));
        QCOMPARE(replaced.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther), 0);
        QCOMPARE(replaced.lastModified().toMSecsSinceEpoch(), 1000000000005LL);
    }

    void availableBytes()
    {
        QTemporaryDir tmp;
        const qint64 here = platform::AvailableBytes(tmp.path());
        QVERIFY(here > 0);
        // A destination that does not exist yet counts for the folder it will be made in.
        QVERIFY(platform::AvailableBytes(tmp.path() + u"/not/yet/there"_qs) > 0);
    }
};

YFZS_TEST_CLASS(ConfinedFilesTest)
#include "confinedfiles_test.moc"
