#include "testenv.h"
#include "testrunner.h"

#include "config/programdir.h"
#include "download/downloadjobs.h"
#include "httpfixture.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

struct PageCall
{
    int status;
    int high;
    int low;
    int percent;
    bool onCallerThread;
};

// Stands in for the page: records every OnDownloadProgress call, and lets a test act from
// inside one, as a page script may.
class RecordingPage : public download::PageProgressSink
{
public:
    std::function<void(const PageCall&)> inside;

    void InvokePageProgress(int status, int idHigh, int idLow, int percent) override
    {
        const PageCall call{status, idHigh, idLow, percent, std::this_thread::get_id() == m_owner};
        if (inside)
            inside(call);
        std::lock_guard<std::mutex> locker(m_lock);
        m_calls.append(call);
        m_changed.notify_all();
    }

    QList<PageCall> CallsFor(int high, int low)
    {
        std::lock_guard<std::mutex> locker(m_lock);
        QList<PageCall> out;
        for (const PageCall& c : m_calls) {
            if (c.high == high && c.low == low)
                out.append(c);
        }
        return out;
    }

    // Waits until the job has had `count` final calls in all.
    bool WaitFinals(int high, int low, int count = 1)
    {
        std::unique_lock<std::mutex> locker(m_lock);
        return m_changed.wait_for(locker, std::chrono::seconds(20), [&] {
            int finals = 0;
            for (const PageCall& c : m_calls)
                finals += c.high == high && c.low == low && c.status != download::kDownloadChunk;
            return finals >= count;
        });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    QList<PageCall> m_calls;
    std::thread::id m_owner = std::this_thread::get_id();
};

// The table stores a report after the page call returned, so a test reads it with QTRY_*.
int stateOf(qint32 high, qint32 low)
{
    const auto job = download::FindDownloadJob(download::MakeJobId(high, low));
    return job ? job->state : 0;
}

QList<int> percentages(const QList<PageCall>& calls)
{
    QList<int> out;
    for (const PageCall& c : calls) {
        if (c.status == download::kDownloadChunk)
            out.append(c.percent);
    }
    return out;
}

} // namespace

class DownloadJobsTest : public QObject
{
    Q_OBJECT

private:
    LoopbackHttpServer m_server;
    EnvGuard m_env;
    std::shared_ptr<RecordingPage> m_page = std::make_shared<RecordingPage>();
    QString m_downloads;
    QStringList m_made; // files this test put into the program's Downloads folder
    QByteArray m_body = TestPattern(512 * 1024 + 77, 11);

    QString Url(const char* path) const { return m_server.Url(QString::fromLatin1(path)); }
    QString Target(const QString& name)
    {
        m_made.append(m_downloads + name);
        return m_downloads + name;
    }
    // Serves `resource` at `url` and returns the target of `name`, with no file left there.
    QString serveAfresh(const QByteArray& url, const TestResource& resource, const QString& name)
    {
        m_server.Put(url, resource);
        const QString path = Target(name);
        QFile::remove(path);
        return path;
    }
    // Runs the job (0, `high`) into `name` on the body cut off after `cutAfter` bytes at `url`,
    // until it has failed; returns the part it left.
    QString runUntilCut(const char* url, qint64 cutAfter, const QString& name, qint32 high)
    {
        TestResource cut{m_body};
        cut.cutAfter = cutAfter;
        const QString path = serveAfresh(url, cut, name);
        const bool failed = DownloadFile(Url(url), name, 0, high) == 1 && m_page->WaitFinals(0, high)
            && QTest::qWaitFor([&] { return stateOf(0, high) == int(download::kJobFailed); });
        return failed ? path : QString();
    }

private slots:
    void initTestCase()
    {
        BypassProxies(m_env);
        QVERIFY(m_server.Start());
        m_server.Put("/file", {m_body});
        m_downloads = GetProgramDir() + QStringLiteral("Downloads/");
        download::SetPageProgressSink(m_page);
    }

    void cleanupTestCase()
    {
        download::SetPageProgressSink(nullptr);
        for (const QString& file : std::as_const(m_made))
            QFile::remove(file);
        QDir(m_downloads + QStringLiteral("jobs-sub")).removeRecursively();
        QDir().rmdir(m_downloads); // only when nothing else is in it
    }

    void jobIdentifierHalves()
    {
        QCOMPARE(download::MakeJobId(0, 7), qint64(7));
        QCOMPARE(download::MakeJobId(0, -1), qint64(-1));
        QCOMPARE(download::JobIdHigh(download::MakeJobId(0, -1)), -1);
        QCOMPARE(download::JobIdLow(download::MakeJobId(0, -1)), -1);
        QCOMPARE(download::JobIdHigh(download::MakeJobId(5, 9)), 5);
        QCOMPARE(download::JobIdLow(download::MakeJobId(5, 9)), 9);
        QCOMPARE(download::MakeJobId(1, -1), download::MakeJobId(0, 0) + 0xFFFFFFFFll);
        QCOMPARE(download::JobIdHigh(download::MakeJobId(INT_MIN, -1)), INT_MAX); // wraps, no overflow
    }

    void downloadLandsInProgramFolderWithWholePercentages()
    {
        // The folder is made when missing; leave it alone if something else lives in it.
        QDir(m_downloads).rmdir(QStringLiteral("."));
        const QString name = QStringLiteral("jobs-fresh.bin");
        QCOMPARE(DownloadFile(Url("/file"), name, 0, 7), 1);
        QVERIFY(m_page->WaitFinals(0, 7));
        QCOMPARE(Sha256(readFile(Target(name))), Sha256(m_body));

        const QList<PageCall> calls = m_page->CallsFor(0, 7);
        const QList<int> percents = percentages(calls);
        QVERIFY(!percents.isEmpty());
        QVERIFY(percents.size() <= 101);
        for (qsizetype i = 1; i < percents.size(); ++i)
            QVERIFY2(percents[i] > percents[i - 1], "each progress call is a new whole percentage");
        QCOMPARE(percents.last(), 100);
        QCOMPARE(calls.last().status, int(download::kDownloadComplete));
        QCOMPARE(calls.last().percent, 100);

        QTRY_COMPARE(stateOf(0, 7), int(download::kJobComplete));
        const auto job = download::FindDownloadJob(download::MakeJobId(0, 7));
        QCOMPARE(job->bytesDone, qint64(m_body.size()));
        QCOMPARE(job->totalSize, qint64(m_body.size()));
    }

    void subFolderNamesAndUnknownLength()
    {
        // A backslash in the name is a sub-folder of Downloads, which must exist first.
        const QString name = QStringLiteral("jobs-sub\\nolength.bin");
        QCOMPARE(DownloadFile(Url("/file"), name, 0, 8), 0);
        QTRY_COMPARE(stateOf(0, 8), int(download::kJobFailed));
        QVERIFY(m_page->CallsFor(0, 8).isEmpty());

        QVERIFY(QDir().mkpath(m_downloads + QStringLiteral("jobs-sub")));
        TestResource r{m_body};
        r.chunked = true;
        m_server.Put("/chunked", r);
        QCOMPARE(DownloadFile(Url("/chunked"), name, 0, 8), 1);
        QVERIFY(m_page->WaitFinals(0, 8));
        QCOMPARE(Sha256(readFile(m_downloads + QStringLiteral("jobs-sub/nolength.bin"))), Sha256(m_body));
        const QList<PageCall> calls = m_page->CallsFor(0, 8);
        QCOMPARE(calls.size(), 1); // no percentage without a length: only the end
        QCOMPARE(calls.last().status, int(download::kDownloadComplete));
        QCOMPARE(calls.last().percent, 100);
    }

    void namesLeavingDownloadsAreRefused()
    {
        // Each would land outside Downloads/ (or at a drive root where the program came from).
        const QStringList refused{QStringLiteral("../jobs-out.bin"),
                                  QStringLiteral("..\\jobs-out.bin"),
                                  QStringLiteral("jobs-sub/../../jobs-out.bin"),
                                  QStringLiteral("jobs-sub\\..\\..\\jobs-out.bin"),
                                  QStringLiteral("jobs-sub/..\\../jobs-out.bin"),
                                  QStringLiteral("/tmp/jobs-out.bin"),
                                  QStringLiteral("\\jobs-out.bin"),
                                  QStringLiteral("C:\\jobs-out.bin"),
                                  QStringLiteral("..")};
        int low = 100;
        for (const QString& name : refused) {
            QCOMPARE(DownloadFile(Url("/file"), name, 4, low), 0);
            QVERIFY2(!download::FindDownloadJob(download::MakeJobId(4, low)), qPrintable(name));
            ++low;
        }
        QTest::qWait(200);
        for (int i = 100; i < low; ++i)
            QVERIFY(m_page->CallsFor(4, i).isEmpty());
        QVERIFY(!QFileInfo::exists(GetProgramDir() + QStringLiteral("jobs-out.bin")));

        // A level that merely contains dots is a name like any other.
        QVERIFY(QDir().mkpath(m_downloads + QStringLiteral("jobs-sub")));
        const QString name = QStringLiteral("jobs-sub/..dots..bin");
        QCOMPARE(DownloadFile(Url("/file"), name, 4, 99), 1);
        QVERIFY(m_page->WaitFinals(4, 99));
        QCOMPARE(Sha256(readFile(m_downloads + name)), Sha256(m_body));
    }

    void runningJobIsNotStartedTwice()
    {
        TestResource slow{m_body};
        slow.pieceDelayMs = 5;
        m_server.Put("/twice", slow);
        const QString name = QStringLiteral("jobs-twice.bin");
        Target(name);
        QCOMPARE(DownloadFile(Url("/twice"), name, 3, 3), 1);
        QCOMPARE(DownloadFile(Url("/twice"), name, 3, 3), 0);
        QVERIFY(m_page->WaitFinals(3, 3));
        QCOMPARE(m_server.RequestsFor("/twice").size(), 1);
        QCOMPARE(m_page->CallsFor(3, 3).last().status, int(download::kDownloadComplete));
    }

    void pauseThenRestartResumes()
    {
        TestResource slow{m_body};
        slow.pieceDelayMs = 5;
        const QString name = QStringLiteral("jobs-pause.bin");
        const QString path = serveAfresh("/pause", slow, name);

        // Identifier (0, -1) is the job with both halves -1, for pausing and reporting alike.
        m_page->inside = [](const PageCall& c) {
            if (c.status == download::kDownloadChunk && c.high == -1 && c.percent >= 10)
                QCOMPARE(PauseDownload(0, -1), 1);
        };
        QCOMPARE(DownloadFile(Url("/pause"), name, 0, -1), 1);
        QVERIFY(m_page->WaitFinals(-1, -1));
        m_page->inside = nullptr;
        const QList<PageCall> first = m_page->CallsFor(-1, -1);
        QCOMPARE(first.last().status, int(download::kDownloadPaused));
        QCOMPARE(first.last().percent, 0);
        QTRY_COMPARE(stateOf(0, -1), int(download::kJobPaused));
        QCOMPARE(download::FindDownloadJob(download::MakeJobId(0, -1))->pauseRequest,
                 download::kPauseRequested);
        const qint64 kept = QFileInfo(path).size();
        QVERIFY(kept > 0 && kept < m_body.size());

        QCOMPARE(DownloadFile(Url("/pause"), name, 0, -1), 1);
        QCOMPARE(download::FindDownloadJob(download::MakeJobId(0, -1))->pauseRequest, 0);
        QVERIFY(m_page->WaitFinals(-1, -1, 2));
        QCOMPARE(m_server.RequestsFor("/pause").last().headers.value("range"),
                 "bytes=" + QByteArray::number(kept) + '-');
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));

        const QList<PageCall> all = m_page->CallsFor(-1, -1);
        const QList<PageCall> second = all.mid(first.size());
        QCOMPARE(second.last().status, int(download::kDownloadComplete));
        const QList<int> before = percentages(first);
        const QList<int> after = percentages(second);
        QVERIFY(!after.isEmpty());
        QVERIFY(after.first() > before.last()); // no repeat of the last percentage heard
    }

    void cutConnectionThenRestartCompletes()
    {
        const QString name = QStringLiteral("jobs-cut.bin");
        const QString path = runUntilCut("/cutjob", 200 * 1024, name, 9);
        QVERIFY(!path.isEmpty());
        QCOMPARE(m_page->CallsFor(0, 9).last().status, int(download::kDownloadFailed));
        QCOMPARE(m_page->CallsFor(0, 9).last().percent, 0);
        const qint64 kept = QFileInfo(path).size();
        QVERIFY2(kept > 0 && kept <= 200 * 1024, QByteArray::number(kept));

        m_server.Put("/cutjob", {m_body});
        QCOMPARE(DownloadFile(Url("/cutjob"), name, 0, 9), 1);
        QVERIFY(m_page->WaitFinals(0, 9, 2));
        QCOMPARE(m_server.RequestsFor("/cutjob").last().headers.value("range"),
                 "bytes=" + QByteArray::number(kept) + '-');
        QCOMPARE(m_page->CallsFor(0, 9).last().status, int(download::kDownloadComplete));
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
    }

    void resourceChangedBetweenRunsFails()
    {
        const QString name = QStringLiteral("jobs-changed.bin");
        const QString path = runUntilCut("/changed", 100 * 1024, name, 13);
        QVERIFY(!path.isEmpty());
        QVERIFY(QFileInfo(path).size() > 0);
        const QByteArray kept = readFile(path);

        // Another resource now: the range answer is honest, but its total is not the one the
        // job's first run was told, so the old part and the new rest do not belong together.
        // (Kept small, so the server is done writing before the engine hangs up.)
        const QByteArray changed = TestPattern(120 * 1024, 12);
        m_server.Put("/changed", {changed});
        QCOMPARE(DownloadFile(Url("/changed"), name, 0, 13), 1);
        QVERIFY(m_page->WaitFinals(0, 13, 2));
        QCOMPARE(m_page->CallsFor(0, 13).last().status, int(download::kDownloadFailed));
        QCOMPARE(readFile(path), kept);
        QTRY_COMPARE(stateOf(0, 13), int(download::kJobFailed));

        // The page's way out: delete the part and start the job again.
        QVERIFY(QFile::remove(path));
        QCOMPARE(DownloadFile(Url("/changed"), name, 0, 13), 1);
        QVERIFY(m_page->WaitFinals(0, 13, 3));
        QCOMPARE(m_page->CallsFor(0, 13).last().status, int(download::kDownloadComplete));
        QCOMPARE(Sha256(readFile(path)), Sha256(changed));
    }

    void failuresReachThePage()
    {
        // A 404 is heard as (-1, id, 0) from a worker; an unusable address during the call.
        QCOMPARE(DownloadFile(Url("/nothing-here"), QStringLiteral("jobs-404.bin"), 0, 10), 1);
        Target(QStringLiteral("jobs-404.bin"));
        QVERIFY(m_page->WaitFinals(0, 10));
        QCOMPARE(m_page->CallsFor(0, 10).last().status, int(download::kDownloadFailed));
        QVERIFY(!m_page->CallsFor(0, 10).last().onCallerThread);

        Target(QStringLiteral("jobs-bad.bin"));
        QCOMPARE(DownloadFile(QStringLiteral("not an address"), QStringLiteral("jobs-bad.bin"), 0, 11), 1);
        const QList<PageCall> calls = m_page->CallsFor(0, 11);
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.first().status, int(download::kDownloadFailed));
        QVERIFY(calls.first().onCallerThread);
        QTRY_COMPARE(stateOf(0, 11), int(download::kJobFailed));

        QCOMPARE(PauseDownload(123, 456), 0);
    }

    void pageHandlerSeesTheJobStillRunning()
    {
        // From inside the final report's handler the job still counts as downloading.
        std::atomic<int> again{-1};
        m_page->inside = [&again](const PageCall& c) {
            if (c.high == 0 && c.low == 12 && c.status == download::kDownloadComplete)
                again = DownloadFile(QStringLiteral("http://127.0.0.1:1/x"), QStringLiteral("jobs-again.bin"),
                                     0, 12);
        };
        QCOMPARE(DownloadFile(Url("/file"), QStringLiteral("jobs-inside.bin"), 0, 12), 1);
        Target(QStringLiteral("jobs-inside.bin"));
        QVERIFY(m_page->WaitFinals(0, 12));
        m_page->inside = nullptr;
        QCOMPARE(again.load(), 0);
        QTRY_COMPARE(stateOf(0, 12), int(download::kJobComplete));
    }

    void manyConcurrentJobsEachEndOnce()
    {
        constexpr int kJobs = 32;
        TestResource r{TestPattern(96 * 1024, 5)};
        r.pieceDelayMs = 2;
        m_server.Put("/many", r);
        for (int i = 0; i < kJobs; ++i) {
            const QString name = QStringLiteral("jobs-many-%1.bin").arg(i);
            QFile::remove(Target(name));
            QCOMPARE(DownloadFile(Url("/many"), name, 77, i), 1);
        }
        for (int i = 0; i < kJobs; ++i)
            QVERIFY(m_page->WaitFinals(77, i));
        QTest::qWait(100); // a doubled final report would arrive about now
        for (int i = 0; i < kJobs; ++i) {
            const QList<PageCall> calls = m_page->CallsFor(77, i);
            int finals = 0;
            for (const PageCall& c : calls)
                finals += c.status != download::kDownloadChunk;
            QCOMPARE(finals, 1);
            QCOMPARE(calls.last().status, int(download::kDownloadComplete));
            QTRY_COMPARE(stateOf(77, i), int(download::kJobComplete));
            QCOMPARE(readFile(m_downloads + QStringLiteral("jobs-many-%1.bin").arg(i)), r.body);
        }
    }
};

YFZS_TEST_CLASS(DownloadJobsTest)
#include "jobs_test.moc"
