#include "testrunner.h"

#include "downloadfixture.h"
#include "enginerun.h"
#include "testfiles.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

class DownloadEngineTest : public DownloadFixture
{
    Q_OBJECT

private:
    QByteArray m_body = TestPattern(300 * 1024 + 123);

    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void initTestCase()
    {
        QVERIFY(Prepare());
        m_server.Put("/file", {m_body});
    }

    void freshDownloadWritesWholeBodyWithoutRange()
    {
        const QString path = Path("fresh.bin");
        std::shared_ptr<Run> run;
        QCOMPARE(Download(Url("/file"), path, &run), int(download::kDownloadComplete));
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
        QCOMPARE(run->finals, 1);

        const TestRequest request = m_server.RequestsFor("/file").last();
        QVERIFY(!request.headers.contains("range"));
        QCOMPARE(request.headers.value("user-agent"), QByteArray("MSIE"));

        const QList<Report> chunks = run->Chunks();
        QVERIFY(!chunks.isEmpty());
        quint64 previous = 0;
        for (const Report& r : chunks) {
            QCOMPARE(r.startOffset, 0u);
            QCOMPARE(r.totalSize, quint64(m_body.size()));
            QVERIFY(r.received > previous);
            previous = r.received;
        }
        QCOMPARE(previous, quint64(m_body.size()));
    }

    void resumeAsksForTheRestAndAppends()
    {
        const QByteArray whole = TestPattern(1500, 7);
        m_server.Put("/r1500", {whole});
        const QString path = Path("resume.bin");
        QVERIFY(writeFile(path, whole.left(1000)));

        std::shared_ptr<Run> run;
        QCOMPARE(Download(Url("/r1500"), path, &run), int(download::kDownloadComplete));
        QCOMPARE(m_server.RequestsFor("/r1500").last().headers.value("range"), QByteArray("bytes=1000-"));
        QCOMPARE(readFile(path), whole);
        const QList<Report> chunks = run->Chunks();
        QVERIFY(!chunks.isEmpty());
        for (const Report& r : chunks) {
            QCOMPARE(r.startOffset, 1000u);
            QCOMPARE(r.totalSize, 1500u);
        }
        QCOMPARE(chunks.last().startOffset + chunks.last().received, 1500u);
    }

    void refusedStatusesFailAndKeepTheFile_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("404") << 404;
        QTest::newRow("500") << 500;
        QTest::newRow("204") << 204;
    }
    void refusedStatusesFailAndKeepTheFile()
    {
        QFETCH(int, status);
        m_server.Put("/status", {"error page body", status});
        const QString path = Path("kept.bin");
        const QByteArray before = TestPattern(777, 3);
        QVERIFY(writeFile(path, before));
        const QDateTime stamp = QDateTime::currentDateTimeUtc().addDays(-3);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(stamp, QFileDevice::FileModificationTime));
        }
        std::shared_ptr<Run> run;
        QCOMPARE(Download(Url("/status"), path, &run), int(download::kDownloadFailed));
        QCOMPARE(readFile(path), before);
        QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(),
                 stamp.toSecsSinceEpoch()); // not even touched
        QVERIFY(run->Chunks().isEmpty());
    }

    void bodiesWithoutLength_data() { AddFlagRows("chunked", "ends at close", "chunked"); }
    void bodiesWithoutLength()
    {
        QFETCH(bool, chunked);
        TestResource r{m_body};
        r.sendLength = false;
        r.chunked = chunked;
        m_server.Put("/nolength", r);
        const QString path = Path(chunked ? "chunked.bin" : "closed.bin");
        std::shared_ptr<Run> run;
        QCOMPARE(Download(Url("/nolength"), path, &run), int(download::kDownloadComplete));
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
        for (const Report& r : run->Chunks())
            QCOMPARE(r.totalSize, 0u);
    }

    void resumeAnsweredWithWholeBodyStartsAgain()
    {
        TestResource r{m_body};
        r.honourRange = false;
        m_server.Put("/norange", r);
        const QString path = Path("norange.bin");
        QVERIFY(writeFile(path, TestPattern(5000, 9)));
        std::shared_ptr<Run> run;
        QCOMPARE(Download(Url("/norange"), path, &run), int(download::kDownloadComplete));
        QCOMPARE(m_server.RequestsFor("/norange").last().headers.value("range"), QByteArray("bytes=5000-"));
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
        QCOMPARE(run->Chunks().first().startOffset, 0u);
        QCOMPARE(run->Chunks().last().totalSize, quint64(m_body.size()));
    }

    void rangeBeyondTheEndCompletesWithoutWriting()
    {
        const QString path = Path("whole.bin");
        QVERIFY(writeFile(path, m_body));
        std::shared_ptr<Run> run;
        QCOMPARE(Download(Url("/file"), path, &run), int(download::kDownloadComplete));
        QCOMPARE(m_server.RequestsFor("/file").last().headers.value("range"),
                 "bytes=" + QByteArray::number(m_body.size()) + '-');
        QVERIFY(run->Chunks().isEmpty());
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
    }

    void unrequested416Fails()
    {
        m_server.Put("/416", {"", 416});
        QCOMPARE(Download(Url("/416"), Path("unrequested416.bin")), int(download::kDownloadFailed));
    }

    void queryStringAndRedirectsAreFollowed()
    {
        m_server.Put("/q", {"query answer"});
        QCOMPARE(Download(Url("/q?name=a%20b&kind=2"), Path("query.bin")), int(download::kDownloadComplete));
        QCOMPARE(m_server.RequestsFor("/q").last().target, QByteArray("/q?name=a%20b&kind=2"));

        TestResource moved;
        moved.location = "/file";
        m_server.Put("/moved", moved);
        const QString path = Path("moved.bin");
        QCOMPARE(Download(Url("/moved"), path), int(download::kDownloadComplete));
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
    }

    void pauseStopsAtNextNotificationAndKeepsBytes()
    {
        TestResource slow{m_body};
        slow.pieceDelayMs = 5;
        m_server.Put("/slow", slow);
        const QString path = Path("paused.bin");
        download::PauseWatch watch{0};
        int started = 0;
        auto run = Start(Url("/slow"), path, &started, &watch,
                         [&watch](const Report&) { watch.store(download::kPauseRequested); });
        QCOMPARE(started, 1);
        QVERIFY(WaitFinal(*run));
        QCOMPARE(run->Final(), int(download::kDownloadPaused));
        QCOMPARE(run->Chunks().size(), 1);
        const qint64 kept = QFileInfo(path).size();
        QCOMPARE(quint64(kept), run->Chunks().first().received);

        m_server.Put("/slow", {m_body});
        QCOMPARE(Download(Url("/slow"), path), int(download::kDownloadComplete));
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
    }

    void failedWriteFails()
    {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        QCOMPARE(Download(Url("/file"), QStringLiteral("/dev/full")), int(download::kDownloadFailed));
    }

    void unusableAddressesFailOnTheCallersThread_data()
    {
        QTest::addColumn<QString>("address");
        const QString base = m_server.Url(QString());
        QTest::newRow("too long") << base + u'/' + QString(4096, u'a');
        QTest::newRow("long host") << QStringLiteral("http://") + QString(257, u'h') + QStringLiteral("/x");
        QTest::newRow("no scheme") << QStringLiteral("127.0.0.1/file");
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/file");
        QTest::newRow("local file") << QStringLiteral("file:///etc/hostname");
        QTest::newRow("empty") << QString();
    }
    void unusableAddressesFailOnTheCallersThread()
    {
        QFETCH(QString, address);
        int started = 0;
        auto run = Start(address, Path("bad.bin"), &started);
        QCOMPARE(started, 1);
        // Reported before StartDownload returned, on this thread.
        QCOMPARE(run->finals, 1);
        QCOMPARE(run->Final(), int(download::kDownloadFailed));
        QVERIFY(run->finalThread == std::this_thread::get_id());
        QVERIFY(!QFileInfo::exists(Path("bad.bin")));
    }

    void unopenableOrBusyTargetDoesNotStart()
    {
        int started = 1;
        auto run = Start(Url("/file"), Path("missing-folder/x.bin"), &started);
        QCOMPARE(started, 0);
        QCOMPARE(run->finals, 0);

        // A second writer for a file being written is refused.
        TestResource slow{m_body};
        slow.pieceDelayMs = 5;
        m_server.Put("/busy", slow);
        const QString path = Path("busy.bin");
        int first = 0;
        auto running = Start(Url("/busy"), path, &first);
        QCOMPARE(first, 1);
        int second = 1;
        auto refused = Start(Url("/busy"), path, &second);
        QCOMPARE(second, 0);
        QVERIFY(WaitFinal(*running));
        QCOMPARE(running->Final(), int(download::kDownloadComplete));
        QCOMPARE(refused->finals, 0);
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
    }

    void httpsIsVerifiedAgainstTrustedAuthorities()
    {
        const QString cert = Path("cert.pem");
        const QString key = Path("key.pem");
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), key,
                       QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("2"),
                       QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                       QStringLiteral("subjectAltName=IP:127.0.0.1")});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            QSKIP("the openssl tool could not make a certificate");

        LoopbackHttpServer tls;
        QVERIFY(tls.Start(cert, key));
        tls.Put("/secure", {m_body});

        // Not trusted: the engine must refuse the connection.
        EnvGuard env;
        env.Unset("QX77_CA_FILE");
        QCOMPARE(Download(tls.Url(QStringLiteral("/secure")), Path("untrusted.bin")),
                 int(download::kDownloadFailed));
        QVERIFY(!QFileInfo::exists(Path("untrusted.bin")));

        env.Set("QX77_CA_FILE", cert.toLocal8Bit());
        const QString path = Path("secure.bin");
        const int status = Download(tls.Url(QStringLiteral("/secure")), path);
        env.Unset("QX77_CA_FILE");
        QCOMPARE(status, int(download::kDownloadComplete));
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
        QVERIFY(!tls.RequestsFor("/secure").isEmpty());
    }
};

YFZS_TEST_CLASS(DownloadEngineTest)
#include "engine_test.moc"
