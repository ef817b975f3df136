// The settings file as other programs share it: a second process writing or editing it, and
// paths the page may name that are no settings file at all.

#include "testfiles.h"
#include "testrunner.h"

#include "config/inifile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <future>
#include <thread>

namespace {

// Runs `call` and gives up on the whole program when it has not returned in time: a call that
// blocks for good would otherwise only end at the test's time-out, with nothing said.
void returnsPromptly(const char* what, const std::function<void()>& call)
{
    std::packaged_task<void()> task(call);
    std::future<void> done = task.get_future();
    std::thread worker(std::move(task));
    if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
        qFatal("%s has not returned after 10 s", what);
    worker.join();
}

} // namespace

class IniSharedFileTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_editor; // ini_peer edit: changes files in place on request

    QString file(const QString& name) const { return m_dir.filePath(name); }

    bool editInPlace(const QString& path, int offset, const QByteArray& text, bool keepModificationTime)
    {
        m_editor.write(path.toUtf8() + '\t' + QByteArray::number(offset) + '\t' + text + '\t'
                       + (keepModificationTime ? "1" : "0") + '\n');
        while (!m_editor.canReadLine()) {
            if (!m_editor.waitForReadyRead(10000))
                return false;
        }
        return m_editor.readLine() == "done\n";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_editor.start(QStringLiteral(INI_PEER_PATH), {u"edit"_qs});
        QVERIFY(m_editor.waitForStarted());
    }

    void cleanupTestCase()
    {
        m_editor.closeWriteChannel();
        QVERIFY(m_editor.waitForFinished());
    }

    void twoProcessesWritingOneFileLoseNothing()
    {
        const QString ini = file(u"shared.ini"_qs);
        constexpr int kWrites = 150;
        QProcess first, second;
        first.start(QStringLiteral(INI_PEER_PATH), {u"write"_qs, ini, u"a"_qs, QString::number(kWrites)});
        second.start(QStringLiteral(INI_PEER_PATH), {u"write"_qs, ini, u"b"_qs, QString::number(kWrites)});
        QVERIFY(first.waitForFinished(120000));
        QVERIFY(second.waitForFinished(120000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);

        int lost = 0;
        for (int i = 0; i < kWrites; ++i) {
            lost += ReadIniString(ini, u"s"_qs, u"a"_qs + QString::number(i), u"lost"_qs)
                != QString::number(i);
            lost += ReadIniString(ini, u"s"_qs, u"b"_qs + QString::number(i), u"lost"_qs)
                != QString::number(i);
        }
        QCOMPARE(lost, 0);
        QVERIFY(QFileInfo(ini + u".lock"_qs).isFile()); // left for the next writer, never the file itself
    }

    // A read of an unchanged file is served from what was parsed before; an edit in place by
    // another program keeps inode and size, and may keep the modification time or fall in the
    // clock tick of the read. Each must still be seen by the very next read.
    void inPlaceEditRightAfterAReadIsSeen()
    {
        const QString ini = file(u"edited.ini"_qs);
        const QDateTime oldTime = QDateTime::fromMSecsSinceEpoch(1577836800123);
        for (int round = 0; round < 8; ++round) {
            // An old file whose edit puts its modification time back: only the change time moves.
            QVERIFY(writeFile(ini, "[s]\r\nk=AAAA\r\n"));
            QFile f(ini);
            QVERIFY(f.open(QIODevice::ReadWrite)
                    && f.setFileTime(oldTime, QFileDevice::FileModificationTime));
            f.close();
            QThread::msleep(40); // older than a clock tick: the parsed file is kept
            QCOMPARE(ReadIniString(ini, u"s"_qs, u"k"_qs), u"AAAA"_qs);
            QCOMPARE(ReadIniString(ini, u"s"_qs, u"k"_qs), u"AAAA"_qs);
            QVERIFY(editInPlace(ini, 7, "BBBB", true));
            QCOMPARE(QFileInfo(ini).lastModified(), oldTime);
            QCOMPARE(ReadIniString(ini, u"s"_qs, u"k"_qs), u"BBBB"_qs);
        }
        for (int round = 0; round < 20; ++round) {
            // Written, read and edited within one clock tick: the times may not move at all.
            QVERIFY(writeFile(ini, "[s]\r\nk=CCCC\r\n"));
            QCOMPARE(ReadIniString(ini, u"s"_qs, u"k"_qs), u"CCCC"_qs);
            QVERIFY(editInPlace(ini, 7, "DDDD", round % 2 == 1));
            QCOMPARE(ReadIniString(ini, u"s"_qs, u"k"_qs), u"DDDD"_qs);
        }
    }

    // The page may name any path. Only regular files are read (never blocking, never swallowing
    // a device) and none of these is written or gets a lock file beside it.
    void onlyRegularFilesOfSettingsSizeAreUsed()
    {
        const QString fifo = file(u"fifo.ini"_qs);
        QCOMPARE(QProcess::execute(u"mkfifo"_qs, {fifo}), 0);
        for (const QString& path : {fifo, u"/dev/zero"_qs, m_dir.path()}) {
            QString read;
            bool written = true;
            returnsPromptly("a settings read or write of a FIFO, device or folder", [&] {
                read = ReadIniString(path, u"s"_qs, u"k"_qs, u"default"_qs);
                written = WriteIniString(path, u"s"_qs, u"k"_qs, u"v"_qs);
            });
            QCOMPARE(read, u"default"_qs);
            QVERIFY(!written);
            QVERIFY(!QFileInfo::exists(path + u".lock"_qs));
        }
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile()); // still the FIFO

        // Over 64 MiB (sparse, so the test costs no disk): read as missing, never rewritten.
        const QString big = file(u"big.ini"_qs);
        QVERIFY(writeFile(big, "[s]\r\nk=v\r\n"));
        constexpr qint64 kTooLarge = 64 * 1024 * 1024 + 1;
        QVERIFY(QFile::resize(big, kTooLarge));
        QCOMPARE(ReadIniString(big, u"s"_qs, u"k"_qs, u"default"_qs), u"default"_qs);
        QVERIFY(!WriteIniString(big, u"s"_qs, u"k"_qs, u"w"_qs));
        QCOMPARE(QFileInfo(big).size(), kTooLarge);
        QVERIFY(QFile::resize(big, 10));
        QCOMPARE(ReadIniString(big, u"s"_qs, u"k"_qs, u"default"_qs), u"v"_qs);
    }
};

YFZS_TEST_CLASS(IniSharedFileTest)
#include "inishared_test.moc"
