#include "fakeservicehost.h"
#include "pagefixture.h"
#include "testcerts.h"
#include "testenv.h"
#include "testrunner.h"

#include "pagehost/htmlctrl.h"
#include "pagehost/offlinepage.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kWaitMs = 15000;
const char kToolHtml[] = "<!DOCTYPE html><title>工具页</title><body>tool page</body>";

// The tool page, answered with `status` (0: 200, or 206 for a range).
TestResource toolPage(int status = 0)
{
    TestResource page(kToolHtml, status);
    page.contentType = "text/html; charset=utf-8";
    return page;
}

// A tool server on a fixed port that the test stops and starts like the real one.
class RestartableServer
{
public:
    explicit RestartableServer(quint16 port)
        : m_port(port)
    {
    }

    bool Start()
    {
        m_server = std::make_unique<LoopbackHttpServer>();
        m_server->Put("/CF20/CF_Index.aspx", toolPage());
        return m_server->Start({}, {}, m_port);
    }
    void Stop() { m_server.reset(); }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1/CF20/CF_Index.aspx").arg(m_port); }

private:
    quint16 m_port;
    std::unique_ptr<LoopbackHttpServer> m_server;
};

pagehost::OfflinePage* offlinePageOf(PageFixture& f)
{
    return f.View()->findChild<pagehost::OfflinePage*>();
}

} // namespace

// The program's own offline page over the real engine: refused, failing and slow servers, and
// the tool page coming back by itself.
class OfflinePageTest : public QObject
{
    Q_OBJECT

private slots:
    void stoppedServerShowsOwnPageUntilItIsBack()
    {
        PageFixture f;
        pagehost::OfflinePage* offline = offlinePageOf(f);
        QVERIFY(offline);
        RestartableServer server(FakeServiceHost::closedPort());

        f.View()->Navigate(server.Url());
        QTRY_VERIFY_WITH_TIMEOUT(offline->IsShowing(), kWaitMs);
        QCOMPARE(offline->FailedUrl(), QUrl(server.Url()));
        QCOMPARE(offline->NextRetryMs(), 2000);
        QCOMPARE(offline->geometry(), f.View()->rect());
        QVERIFY(offline->findChild<QLabel*>() != nullptr);
        bool messageShown = false;
        for (QLabel* label : offline->findChildren<QLabel*>())
            messageShown |= label->text() == u"无法连接工具服务器，正在重试…"_qs;
        QVERIFY(messageShown);
        // The next attempt fails as well and waits twice as long; the engine's error text is
        // nowhere, not even behind the page.
        QTRY_COMPARE_WITH_TIMEOUT(offline->NextRetryMs(), 4000, kWaitMs);
        QVERIFY(!f.Eval(QStringLiteral("document.body ? document.body.innerText : ''"))
                     .toString()
                     .contains(u"ERR_"_qs));

        QVERIFY(server.Start());
        QTRY_VERIFY_WITH_TIMEOUT(!offline->IsShowing(), kWaitMs);
        QCOMPARE(f.Eval(QStringLiteral("document.title")).toString(), u"工具页"_qs);

        // Down again: the back-off starts from 2 s, and the button retries at once.
        server.Stop();
        f.View()->Refresh();
        QTRY_VERIFY_WITH_TIMEOUT(offline->IsShowing(), kWaitMs);
        QCOMPARE(offline->NextRetryMs(), 2000);
        QVERIFY(server.Start());
        QTest::mouseClick(offline->findChild<QPushButton*>(QStringLiteral("offlineRetry")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!offline->IsShowing(), 1500);
    }

    void serverErrorsAndTimeOutsCountAsOffline()
    {
        PageFixture f;
        pagehost::OfflinePage* offline = offlinePageOf(f);
        f.Server().Put("/tool", toolPage(503));
        f.View()->Navigate(f.ToolUrl(QStringLiteral("/tool")));
        QTRY_VERIFY_WITH_TIMEOUT(offline->IsShowing(), kWaitMs);
        f.Server().Put("/tool", toolPage(200));
        QTRY_VERIFY_WITH_TIMEOUT(!offline->IsShowing(), kWaitMs);

        // A page that is merely missing is the page's own business.
        f.Load(f.ToolUrl(QStringLiteral("/nothing-here")));
        QTest::qWait(300);
        QVERIFY(!offline->IsShowing());

        // A server that accepts but never answers.
        TestResource stalled = toolPage(200);
        stalled.silent = true;
        f.Server().Put("/stalled", stalled);
        offline->SetLoadTimeout(500);
        f.View()->Navigate(f.ToolUrl(QStringLiteral("/stalled")));
        QTRY_VERIFY_WITH_TIMEOUT(offline->IsShowing(), kWaitMs);
        QCOMPARE(offline->FailedUrl(), QUrl(f.ToolUrl(QStringLiteral("/stalled"))));
    }

    // The engine's own store does not know the vendor's CA: its certificates are accepted, for
    // the names they carry only. Another CA's, even under the vendor CA's name, shows the
    // program's page saying the server's identity could not be verified, and nothing of theirs
    // loads.
    void onlyTheVendorCaIsTrustedBesidesTheSystem()
    {
        QTemporaryDir dir;
        const QString vendor = dir.filePath(u"vendor"_qs);
        const QString other = dir.filePath(u"other"_qs);
        QVERIFY(MakeTestCa(vendor, u"Vendor CA"_qs) && MakeTestCa(other, u"Vendor CA"_qs));
        QVERIFY(MakeServerCertificate(vendor, u"tool"_qs, u"IP:127.0.0.1"_qs));
        QVERIFY(MakeServerCertificate(vendor, u"elsewhere"_qs, u"DNS:elsewhere.example"_qs));
        QVERIFY(MakeServerCertificate(other, u"tool"_qs, u"IP:127.0.0.1"_qs));

        PageFixture f;
        pagehost::OfflinePage* offline = offlinePageOf(f);
        EnvGuard env;
        env.Set("QX77_CA_FILE", QFile::encodeName(vendor + u"/ca.pem"_qs));
        std::vector<std::unique_ptr<LoopbackHttpServer>> servers;
        const auto serve = [&](const QString& certs, const QString& name) {
            auto server = std::make_unique<LoopbackHttpServer>();
            server->Put("/CF20/CF_Index.aspx", toolPage());
            if (!server->Start(certs + u'/' + name + u".pem"_qs, certs + u'/' + name + u".key"_qs))
                return QString();
            env.Set("QX77_TOOL_URL", server->Url({}).toUtf8());
            servers.push_back(std::move(server));
            return servers.back()->Url(u"/CF20/CF_Index.aspx"_qs);
        };

        const QString trusted = serve(vendor, u"tool"_qs);
        QVERIFY(trusted.startsWith(u"https://"_qs));
        f.View()->Navigate(trusted);
        QTRY_COMPARE_WITH_TIMEOUT(f.Eval(QStringLiteral("document.title")).toString(), u"工具页"_qs, kWaitMs);
        QCOMPARE(f.Eval(QStringLiteral("window.external.GetVersion()")).toInt(), 1);
        QVERIFY(!offline->IsShowing());

        for (const auto& [certs, name] : {std::pair{vendor, u"elsewhere"_qs}, std::pair{other, u"tool"_qs}}) {
            const QString refused = serve(certs, name);
            QVERIFY(!refused.isEmpty());
            f.View()->Navigate(refused);
            QTRY_VERIFY_WITH_TIMEOUT(offline->IsShowing() && offline->FailedUrl() == QUrl(refused), kWaitMs);
            QCOMPARE(offline->Text(), pagehost::OfflinePage::IdentityMessage());
            // Refused in the handshake: not one request reached that server.
            QVERIFY(servers.back()->Paths().isEmpty());
        }
    }
};

YFZS_TEST_CLASS(OfflinePageTest)
#include "offlinepage_test.moc"
