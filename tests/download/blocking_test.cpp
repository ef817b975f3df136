#include "testrunner.h"

#include "download/blockingdownload.h"
#include "downloadfixture.h"
#include "testfiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>

class DownloadBlockingTest : public DownloadFixture
{
    Q_OBJECT

private:
    QByteArray m_body = TestPattern(200 * 1024 + 5, 21);

private slots:
    void initTestCase()
    {
        QVERIFY(Prepare());
        m_server.Put("/pack.zip", {m_body});
    }

    void replacesExistingFileAndReportsProgress()
    {
        const QString path = m_dir.filePath(QStringLiteral("pack.zip"));
        QVERIFY(writeFile(path, "an older, different archive"));
        std::mutex lock;
        QList<QPair<quint64, quint64>> seen;
        const bool ok = download::DownloadToFile(Url("/pack.zip"), path, [&](quint64 done, quint64 total) {
            std::lock_guard<std::mutex> locker(lock);
            seen.append({done, total});
        });
        QVERIFY(ok);
        QCOMPARE(Sha256(readFile(path)), Sha256(m_body));
        QVERIFY(!m_server.RequestsFor("/pack.zip").last().headers.contains("range"));
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last().first, quint64(m_body.size()));
        for (const auto& [done, total] : seen)
            QCOMPARE(total, quint64(m_body.size()));
    }

    void unknownLengthStillSucceeds()
    {
        TestResource r{m_body};
        r.sendLength = false;
        m_server.Put("/nolength.zip", r);
        const QString path = m_dir.filePath(QStringLiteral("nolength.zip"));
        quint64 lastTotal = 1;
        QVERIFY(download::DownloadToFile(Url("/nolength.zip"), path,
                                         [&](quint64, quint64 total) { lastTotal = total; }));
        QCOMPARE(lastTotal, 0u);
        QCOMPARE(readFile(path), m_body);
    }

    void incompleteDownloadsFail()
    {
        m_server.Put("/missing.zip", {"no such pack", 404});
        QVERIFY(
            !download::DownloadToFile(Url("/missing.zip"), m_dir.filePath(QStringLiteral("missing.zip"))));

        TestResource cut{m_body};
        cut.cutAfter = 1000;
        m_server.Put("/cut.zip", cut);
        const QString path = m_dir.filePath(QStringLiteral("cut.zip"));
        QVERIFY(!download::DownloadToFile(Url("/cut.zip"), path));
        QVERIFY(QFileInfo(path).size() <= 1000); // left for the caller to keep or delete

        QVERIFY(!download::DownloadToFile(Url("/pack.zip"),
                                          m_dir.filePath(QStringLiteral("no/such/folder.zip"))));
    }

    void refusedAnswersLeaveNoFile_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("404") << 404 << QByteArray();
        QTest::newRow("500") << 500 << QByteArray();
        QTest::newRow("gzip") << 0 << QByteArray("Content-Encoding: gzip");
    }
    void refusedAnswersLeaveNoFile()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, header);
        TestResource r{m_body.left(4000), status};
        if (!header.isEmpty())
            r.headers << header;
        m_server.Put("/refused.zip", r);
        const QString path = m_dir.filePath(QStringLiteral("refused.zip"));
        QVERIFY(writeFile(path, "an older archive"));
        QVERIFY(!download::DownloadToFile(Url("/refused.zip"), path));
        QVERIFY(!QFileInfo::exists(path));
    }

    // A server may answer the plain request with 206; its numbers must then add up.
    void partialAnswersMustAddUp_data()
    {
        QTest::addColumn<qsizetype>("sent");
        QTest::addColumn<QByteArray>("contentRange");
        QTest::addColumn<bool>("ok");
        QTest::newRow("the whole file") << qsizetype(1000) << QByteArray("bytes 0-999/1000") << true;
        QTest::newRow("half, total says more") << qsizetype(500) << QByteArray("bytes 0-499/1000") << false;
        QTest::newRow("half, range says more") << qsizetype(500) << QByteArray("bytes 0-999/1000") << false;
        QTest::newRow("not from the start") << qsizetype(500) << QByteArray("bytes 500-999/1000") << false;
    }
    void partialAnswersMustAddUp()
    {
        QFETCH(qsizetype, sent);
        QFETCH(QByteArray, contentRange);
        QFETCH(bool, ok);
        TestResource r{m_body.left(sent), 206};
        r.headers << "Content-Range: " + contentRange;
        m_server.Put("/part.zip", r);
        const QString path = m_dir.filePath(QStringLiteral("part.zip"));
        QCOMPARE(download::DownloadToFile(Url("/part.zip"), path), ok);
        if (ok)
            QCOMPARE(readFile(path), m_body.left(sent));
    }

    void cancelStops()
    {
        TestResource slow{m_body};
        slow.pieceDelayMs = 5;
        m_server.Put("/slow.zip", slow);
        download::PauseWatch cancel{0};
        const QString path = m_dir.filePath(QStringLiteral("slow.zip"));
        QVERIFY(!download::DownloadToFile(
            Url("/slow.zip"), path, [&cancel](quint64, quint64) { cancel.store(download::kPauseRequested); },
            &cancel));
        QVERIFY(QFileInfo(path).size() < m_body.size());
    }
};

YFZS_TEST_CLASS(DownloadBlockingTest)
#include "blocking_test.moc"
