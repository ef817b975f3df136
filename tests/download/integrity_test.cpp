#include "testrunner.h"

#include "downloadfixture.h"
#include "enginerun.h"
#include "testfiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// What the engine reports complete must be the file the server described: range answers that
// do not add up, compressed bodies and refused answers fail without touching the file.
class DownloadIntegrityTest : public DownloadFixture
{
    Q_OBJECT

private:
    QByteArray m_whole = TestPattern(1500, 31);

    // The resource: an honest server's answer (status 0), or this status, body and header lines.
    void Serve(const QByteArray& path, int status, const QByteArray& body, const QList<QByteArray>& headers)
    {
        TestResource r = status == 0 ? TestResource{m_whole} : TestResource{body, status};
        r.headers = headers;
        m_server.Put(path, r);
    }

private slots:
    void initTestCase() { QVERIFY(Prepare()); }

    void rangeAnswersAreCheckedAgainstTheFile_data()
    {
        QTest::addColumn<QByteArray>("held"); // the file before the resume
        QTest::addColumn<int>("status");      // 0: the honest answer to the range
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentRange"); // empty: none sent
        QTest::addColumn<qulonglong>("jobTotal");     // what an earlier run was told
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("after"); // the file afterwards

        const QByteArray part = m_whole.left(1000);
        const QByteArray rest = m_whole.mid(1000);
        const QByteArray stale = m_whole + TestPattern(200, 5);
        const int ok = download::kDownloadComplete;
        const int failed = download::kDownloadFailed;
        QTest::newRow("416 stating the file's size")
            << m_whole << 0 << QByteArray() << QByteArray() << 0ull << ok << m_whole;
        QTest::newRow("416 to a larger stale file")
            << stale << 0 << QByteArray() << QByteArray() << 0ull << failed << stale;
        QTest::newRow("416 stating more than the file")
            << part << 416 << QByteArray() << QByteArray("bytes */1500") << 0ull << failed << part;
        QTest::newRow("416 stating no size")
            << part << 416 << QByteArray() << QByteArray() << 0ull << failed << part;
        QTest::newRow("416 stating an unknown size")
            << part << 416 << QByteArray() << QByteArray("bytes */*") << 0ull << failed << part;
        QTest::newRow("416, the job was told another size")
            << m_whole << 0 << QByteArray() << QByteArray() << 2000ull << failed << m_whole;

        QTest::newRow("206 as asked")
            << part << 0 << QByteArray() << QByteArray() << 1500ull << ok << m_whole;
        QTest::newRow("206 with an unknown total")
            << part << 206 << rest << QByteArray("bytes 1000-1499/*") << 0ull << ok << m_whole;
        QTest::newRow("206 starting elsewhere")
            << part << 206 << m_whole.mid(900) << QByteArray("bytes 900-1499/1500") << 0ull << failed << part;
        QTest::newRow("206 longer than its range")
            << part << 206 << rest << QByteArray("bytes 1000-1299/1500") << 0ull << failed << part;
        QTest::newRow("206 shorter than its range")
            << part << 206 << rest.left(300) << QByteArray("bytes 1000-1499/1500") << 0ull << failed << part;
        QTest::newRow("206 ending beyond its total")
            << part << 206 << rest << QByteArray("bytes 1000-1499/1200") << 0ull << failed << part;
        QTest::newRow("206 without Content-Range")
            << part << 206 << rest << QByteArray() << 0ull << failed << part;
        QTest::newRow("206 with a malformed range")
            << part << 206 << rest << QByteArray("bytes 1000-14x9/1500") << 0ull << failed << part;
        QTest::newRow("206, the job was told another total")
            << part << 0 << QByteArray() << QByteArray() << 2000ull << failed << part;
        // The bytes are where the server says, so they stay for the next attempt; the file is
        // still short of the total, so it is not complete.
        QTest::newRow("206 stopping short of its total")
            << part << 206 << rest.left(300) << QByteArray("bytes 1000-1299/1500") << 0ull << failed
            << m_whole.left(1300);
    }

    void rangeAnswersAreCheckedAgainstTheFile()
    {
        QFETCH(QByteArray, held);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentRange);
        QFETCH(qulonglong, jobTotal);
        QFETCH(int, outcome);
        QFETCH(QByteArray, after);

        static int row = 0;
        const QByteArray path = "/range-" + QByteArray::number(++row);
        QList<QByteArray> headers;
        if (!contentRange.isEmpty())
            headers << "Content-Range: " + contentRange;
        Serve(path, status, body, headers);
        const QString file = m_dir.filePath(QStringLiteral("range.bin"));
        QVERIFY(writeFile(file, held));

        std::shared_ptr<Run> run;
        QCOMPARE(Download(m_server.Url(QString::fromLatin1(path)), file, &run, jobTotal), outcome);
        QCOMPARE(m_server.RequestsFor(path).last().headers.value("range"),
                 "bytes=" + QByteArray::number(held.size()) + '-');
        QCOMPARE(Sha256(readFile(file)), Sha256(after));
        if (outcome == download::kDownloadFailed && after == held)
            QVERIFY(run->Chunks().isEmpty());
    }

    void contentCodingsOtherThanIdentityAreRefused_data()
    {
        QTest::addColumn<bool>("resume");
        QTest::addColumn<QByteArray>("coding");
        QTest::addColumn<int>("outcome");
        QTest::newRow("fresh, gzip") << false << QByteArray("gzip") << int(download::kDownloadFailed);
        QTest::newRow("fresh, br") << false << QByteArray("br") << int(download::kDownloadFailed);
        QTest::newRow("resume, gzip") << true << QByteArray("gzip") << int(download::kDownloadFailed);
        QTest::newRow("fresh, identity")
            << false << QByteArray("identity") << int(download::kDownloadComplete);
        QTest::newRow("resume, Identity")
            << true << QByteArray("Identity") << int(download::kDownloadComplete);
    }

    void contentCodingsOtherThanIdentityAreRefused()
    {
        QFETCH(bool, resume);
        QFETCH(QByteArray, coding);
        QFETCH(int, outcome);
        // The body is not compressed at all: the engine must not even try to decode it.
        Serve("/coded", 0, {}, {"Content-Encoding: " + coding});
        const QString file = m_dir.filePath(QStringLiteral("coded.bin"));
        QFile::remove(file);
        if (resume)
            QVERIFY(writeFile(file, m_whole.left(700)));

        QCOMPARE(Download(Url("/coded"), file), outcome);
        QCOMPARE(m_server.RequestsFor("/coded").last().headers.value("accept-encoding"),
                 QByteArray("identity"));
        if (outcome == download::kDownloadComplete)
            QCOMPARE(readFile(file), m_whole);
        else if (resume)
            QCOMPARE(readFile(file), m_whole.left(700));
        else
            QVERIFY(!QFileInfo::exists(file));
    }

    void refusedFirstRequestLeavesNoFile_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("404") << 404;
        QTest::newRow("500") << 500;
        QTest::newRow("416 without a range") << 416;
        QTest::newRow("302 not followed") << 302;
    }

    void refusedFirstRequestLeavesNoFile()
    {
        QFETCH(int, status);
        Serve("/refused", status, "an error page", {});
        const QString file = m_dir.filePath(QStringLiteral("refused.bin"));
        QCOMPARE(Download(Url("/refused"), file), int(download::kDownloadFailed));
        QVERIFY(!QFileInfo::exists(file));

        // Unreachable and unusable addresses neither.
        QCOMPARE(Download(QStringLiteral("http://127.0.0.1:1/x"), file), int(download::kDownloadFailed));
        QVERIFY(!QFileInfo::exists(file));
        QCOMPARE(Download(QStringLiteral("ftp://127.0.0.1/x"), file), int(download::kDownloadFailed));
        QVERIFY(!QFileInfo::exists(file));
    }
};

YFZS_TEST_CLASS(DownloadIntegrityTest)
#include "integrity_test.moc"
