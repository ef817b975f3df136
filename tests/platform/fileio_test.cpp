#include "testfiles.h"
#include "testrunner.h"

#include "fileio.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace platform;

class FileIoTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString file(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void kindsAndIdentity()
    {
        const QString plain = file(u"plain"_qs);
        QVERIFY(writeFile(plain, "12345"));
        const FileStatus status = StatFile(plain);
        QCOMPARE(status.kind, FileKind::Regular);
        QCOMPARE(status.identity.size, 5);
        QCOMPARE(StatFile(file(u"missing"_qs)).kind, FileKind::Missing);
        QCOMPARE(StatFile(file(u"missing/below"_qs)).kind, FileKind::Missing);
        QCOMPARE(StatFile(plain + u"/below"_qs).kind, FileKind::Missing); // a file is no folder
        QCOMPARE(StatFile(m_dir.path()).kind, FileKind::Other);
        QCOMPARE(StatFile(u"/dev/null"_qs).kind, FileKind::Other);

        const FileContent content = ReadRegularFile(plain, 5);
        QCOMPARE(content.status, FileReadStatus::Ok);
        QCOMPARE(content.data, QByteArray("12345"));
        QCOMPARE(content.identity, status.identity);
        QVERIFY(content.startedNs <= WallClockNs());
        QVERIFY(qAbs(content.startedNs - QDateTime::currentMSecsSinceEpoch() * 1000000) < 60LL * 1000000000);

        // An edit in place keeps the inode but not the identity.
        QVERIFY(writeFile(plain, "54321"));
        const FileIdentity edited = StatFile(plain).identity;
        QCOMPARE(edited.inode, status.identity.inode);
        QVERIFY(!(edited == status.identity));

        QCOMPARE(ReadRegularFile(plain, 4).status, FileReadStatus::TooLarge);
        QCOMPARE(ReadRegularFile(file(u"missing"_qs), 4).status, FileReadStatus::Missing);
        QCOMPARE(ReadRegularFile(u"/dev/zero"_qs, 4).status, FileReadStatus::NotRegular);
        const QString fifo = file(u"fifo"_qs);
        QCOMPARE(QProcess::execute(u"mkfifo"_qs, {fifo}), 0);
        QCOMPARE(ReadRegularFile(fifo, 4).status, FileReadStatus::NotRegular); // without a writer
    }

    void lockIsExclusiveAndTimesOut()
    {
        const QString lockPath = file(u"x.lock"_qs);
        auto first = std::make_unique<FileLock>(lockPath);
        QVERIFY(first->Acquire(0));
        QVERIFY(first->IsHeld());
        QCOMPARE(QFileInfo(lockPath).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());

        // A second holder (its own open file, as another process would have) waits, then gives up.
        FileLock second(lockPath);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!second.Acquire(100));
        QVERIFY(timer.elapsed() >= 90);
        QVERIFY(!second.ErrorString().isEmpty());
        first.reset();
        QVERIFY(second.Acquire(0));

        FileLock nowhere(file(u"no such folder/x.lock"_qs));
        QVERIFY(!nowhere.Acquire(0));
        FileLock onAFolder(m_dir.path());
        QVERIFY(!onAFolder.Acquire(0));
    }
};

YFZS_TEST_CLASS(FileIoTest)
#include "fileio_test.moc"
