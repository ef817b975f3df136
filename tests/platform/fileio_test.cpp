#include "testfiles.h"
#include "testrunner.h"

#include "platform/fileio.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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
        const platform::FileStatus status = platform::StatFile(plain);
        QCOMPARE(status.kind, platform::FileKind::Regular);
        QCOMPARE(status.identity.size, 5);
        QCOMPARE(platform::StatFile(file(u"missing"_qs)).kind, platform::FileKind::Missing);
        QCOMPARE(platform::StatFile(file(u"missing/below"_qs)).kind, platform::FileKind::Missing);
        QCOMPARE(platform::StatFile(plain + u"/below"_qs).kind,
                 platform::FileKind::Missing); // a file is no folder
        QCOMPARE(platform::StatFile(m_dir.path()).kind, platform::FileKind::Other);
        QCOMPARE(platform::StatFile(u"/dev/null"_qs).kind, platform::FileKind::Other);

        const platform::FileContent content = platform::ReadRegularFile(plain, 5);
        QCOMPARE(content.status, platform::FileReadStatus::Ok);
        QCOMPARE(content.data, QByteArray("12345"));
        QCOMPARE(content.identity, status.identity);
        QVERIFY(content.startedNs <= platform::WallClockNs());
        QVERIFY(qAbs(content.startedNs - QDateTime::currentMSecsSinceEpoch() * 1000000) < 60LL * 1000000000);

        // An edit in place keeps the inode but not the identity.
        QVERIFY(writeFile(plain, "54321"));
        const platform::FileIdentity edited = platform::StatFile(plain).identity;
        QCOMPARE(edited.inode, status.identity.inode);
        QVERIFY(!(edited == status.identity));

        QCOMPARE(platform::ReadRegularFile(plain, 4).status, platform::FileReadStatus::TooLarge);
        QCOMPARE(platform::ReadRegularFile(file(u"missing"_qs), 4).status, platform::FileReadStatus::Missing);
        QCOMPARE(platform::ReadRegularFile(u"/dev/zero"_qs, 4).status, platform::FileReadStatus::NotRegular);
        const QString fifo = file(u"fifo"_qs);
        QCOMPARE(QProcess::execute(u"mkfifo"_qs, {fifo}), 0);
        QCOMPARE(platform::ReadRegularFile(fifo, 4).status,
                 platform::FileReadStatus::NotRegular); // without a writer
    }

    void lockIsExclusiveAndTimesOut()
    {
        const QString lockPath = file(u"x.lock"_qs);
        auto first = std::make_unique<platform::FileLock>(lockPath);
        QVERIFY(first->Acquire(0));
        QVERIFY(first->IsHeld());
        QCOMPARE(QFileInfo(lockPath).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());

        // A second holder (its own open file, as another process would have) waits, then gives up.
        platform::FileLock second(lockPath);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!second.Acquire(100));
        QVERIFY(timer.elapsed() >= 90);
        QVERIFY(!second.ErrorString().isEmpty());
        first.reset();
        QVERIFY(second.Acquire(0));

        platform::FileLock nowhere(file(u"no such folder/x.lock"_qs));
        QVERIFY(!nowhere.Acquire(0));
        platform::FileLock onAFolder(m_dir.path());
        QVERIFY(!onAFolder.Acquire(0));
    }
};

YFZS_TEST_CLASS(FileIoTest)
#include "fileio_test.moc"
