#include "testrunner.h"

#include "nginxfixture.h"
#include "serverfixture.h"
#include "serviceprotocol.h"

#include <QFile>
#include <QTest>

#include <memory>

namespace {

// Sends `bytes` and reads until the server closes.
QByteArray talk(const char* from, int port, const QByteArray& bytes, const QString& caFile = {})
{
    auto socket = ConnectFrom(port, from, caFile);
    if (!socket)
        return "no connection";
    socket->write(bytes);
    return ReadToClose(*socket);
}

QByteArray loginRequest()
{
    return QByteArray::fromStdString(
        *svc::BuildRequest(svc::kLoginCode, {"0-1a-2b-3-4-ff", "127.0.0.1", "demo", "demo123"}));
}

std::string loginFlag(const QByteArray& reply)
{
    const auto fields = ReplyFields(reply.toStdString());
    return fields.size() > 3 ? fields[3] : std::string();
}

QByteArray proxyV1(const char* client)
{
    return QByteArray("PROXY TCP4 ") + client + " 127.0.0.1 40000 3130\r\n";
}

QByteArray proxyV2(quint8 lastOctet)
{
    QByteArray header("\r\n\r\n\0\r\nQUIT\n", 12);
    header += QByteArray::fromHex("2111000c"); // PROXY, TCP over IPv4, 12 bytes of addresses
    header += QByteArray::fromHex("7f000000");
    header[16 + 3] = static_cast<char>(lastOctet);
    header += QByteArray::fromHex("7f000001"
                                  "9c400c3a");
    return header;
}

QByteArray get(const char* target, const QByteArray& extra = {})
{
    return QByteArray("GET ") + target + " HTTP/1.1\r\nHost: x\r\n" + extra + "Connection: close\r\n\r\n";
}

} // namespace

// qx77-server as a vendor deploys it, behind a reverse proxy: the client a trusted proxy names
// is the peer, for the log and for every limit; what anyone else claims is ignored, and so is
// what any client says about the server's own name.
class DeploymentTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    ServerProcess m_server;

    bool logged(const QByteArray& text)
    {
        return QTest::qWaitFor(
            [&] {
                m_server.log += m_server.process.readAllStandardError();
                return m_server.log.contains(text);
            },
            3000);
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(RunServer({u"--make-demo"_qs, m_data.path(), u"--small-packs"_qs}), 0);
        QVERIFY(m_server.Start({m_data.path(), u"--trusted-proxy"_qs, u"127.0.0.1"_qs, u"--public-url"_qs,
                                u"https://tools.example.com/"_qs}));
    }

    void proxyHeadersOnlyFromTrustedProxies()
    {
        const int service = m_server.servicePort, tool = m_server.toolPort;
        QCOMPARE(loginFlag(talk("127.0.0.1", service, proxyV1("127.0.0.9") + loginRequest())),
                 std::string("1"));
        QVERIFY(logged("service 127.0.0.9 login \"demo\" accepted"));
        QCOMPARE(loginFlag(talk("127.0.0.1", service, proxyV2(10) + loginRequest())), std::string("1"));
        QVERIFY(logged("service 127.0.0.10 login \"demo\" accepted"));
        QVERIFY(talk("127.0.0.1", service, "PROXY TCP4 nonsense\r\n" + loginRequest()).size() > 0);
        QVERIFY(logged("service 127.0.0.1 refused: malformed PROXY header"));

        QVERIFY(talk("127.0.0.1", tool, get("/api/packs", "X-Forwarded-For: 10.9.9.9, 127.0.0.12\r\n"))
                    .startsWith("HTTP/1.1 200"));
        QVERIFY(logged("http 127.0.0.12 GET /api/packs 200"));

        // From anyone else the same headers are just bytes.
        QVERIFY(loginFlag(talk("127.0.0.3", service, proxyV1("127.0.0.11") + loginRequest())) != "1");
        QVERIFY(logged("service 127.0.0.3 refused"));
        QVERIFY(talk("127.0.0.3", tool,
                     get("/api/packs?untrusted", "X-Forwarded-For: 127.0.0.13\r\nX-Real-IP: 127.0.0.13\r\n"))
                    .startsWith("HTTP/1.1 200"));
        QVERIFY(logged("http 127.0.0.3 GET /api/packs?untrusted 200"));
        QVERIFY(!m_server.log.contains("127.0.0.11") && !m_server.log.contains("127.0.0.13"));
    }

    void linksAndLogIgnoreWhatClientsSay()
    {
        const int tool = m_server.toolPort;
        const QByteArray evil = "Host: evil.example\r\n";
        const QByteArray packs = talk("127.0.0.4", tool,
                                      "GET /api/packs HTTP/1.1\r\n" + evil + "Connection: close\r\n\r\n");
        const QByteArray site = talk("127.0.0.4", tool,
                                     "GET /resources.html HTTP/1.1\r\n" + evil + "Connection: close\r\n\r\n");
        QVERIFY(packs.contains("\"address\":\"https://tools.example.com/packs/mark_red.zip\""));
        QVERIFY(site.contains("VEDERU77://tools.example.com/packs/mark_red.zip&amp;1"));
        QVERIFY(site.contains("Cache-Control: no-store"));
        QVERIFY(!packs.contains("evil") && !site.contains("evil"));

        // Listening on every address without a public URL, links are relative to the page.
        RunningServer everywhere;
        QVERIFY(everywhere.Start([](ToolServer::Config& c, ServiceHost::Config&) { c.host = "0.0.0.0"; }));
        const int port = everywhere.tool->Port();
        QVERIFY(talk("127.0.0.4", port, get("/api/packs")).contains("\"address\":\"/packs/mark_red.zip\""));
        const QByteArray local = talk("127.0.0.4", port, get("/resources.html")); // sent as Host: x
        QVERIFY(local.contains("data-link=\"VEDERU77://HOST/packs/mark_red.zip&amp;1\"")
                && !local.contains("//x/"));

        // A name cannot end its log line and forge the next one.
        const std::string forged = "x\nservice 127.0.0.77 login \"demo\" accepted";
        QCOMPARE(Register(tool, forged, "pw")->status, 400);
        QCOMPARE(LoginFlag(m_server.servicePort, forged, "pw", "127.0.0.4"), std::string("0"));
        QVERIFY(logged("login \"x\\nservice 127.0.0.77 login \\\"demo\\\" accepted\" refused"));
        QVERIFY(logged("register \"x\\nservice 127.0.0.77"));
        QVERIFY(!m_server.log.contains("\nservice 127.0.0.77"));
    }

    void limitsHoldEachClientNotTheProxy()
    {
        RunningServer server;
        QVERIFY(server.Start([](ToolServer::Config&, ServiceHost::Config& s) {
            s.trustedProxies.Add("127.0.0.1");
            s.loginsPerSecond = 0.01;
            s.loginBurst = 2;
            s.maxConnectionsPerPeer = 2;
        }));
        const int port = server.service->Port();
        // More connections from the proxy than one peer may hold, all waiting for their client.
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < 3; ++i)
            held.push_back(ConnectFrom(port, "127.0.0.1"));
        auto through = [&](const char* client) {
            return loginFlag(talk("127.0.0.1", port, proxyV1(client) + loginRequest()));
        };
        QCOMPARE(through("127.0.0.20"), std::string("1"));
        QCOMPARE(through("127.0.0.20"), std::string("1"));
        QCOMPARE(through("127.0.0.20"), std::string("0")); // this client's rate, not the proxy's
        QCOMPARE(through("127.0.0.21"), std::string("1"));
    }

    void nginxInFrontPassesOnThePlayersAddress()
    {
        QTemporaryDir certs;
        QString error;
        QVERIFY2(MakeTestCertificates(certs.path(), &error), qPrintable(error));
        const int https = FreePort(), tls = FreePort();
        // The shipped configuration, on test ports and with the test's certificate.
        auto shipped = [&](const char* name) {
            QFile file(QStringLiteral(QX77_SOURCE_DIR "/server/dist/nginx/") + QString::fromLatin1(name));
            if (!file.open(QIODevice::ReadOnly))
                return QString();
            QString text;
            for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n'))
                if (!line.contains(u"[::]"_qs)) // the test host may have no IPv6
                    text += line + u'\n';
            return text.replace(u"listen 443 ssl"_qs, u"listen 127.0.0.1:%1 ssl"_qs.arg(https))
                .replace(u"listen 3131 ssl"_qs, u"listen 127.0.0.1:%1 ssl"_qs.arg(tls))
                .replace(u"127.0.0.1:8088"_qs, u"127.0.0.1:%1"_qs.arg(m_server.toolPort))
                .replace(u"127.0.0.1:3130"_qs, u"127.0.0.1:%1"_qs.arg(m_server.servicePort))
                .replace(u"/etc/ssl/qx77/fullchain.pem"_qs, certs.filePath(u"cert.pem"_qs))
                .replace(u"/etc/ssl/qx77/privkey.pem"_qs, certs.filePath(u"key.pem"_qs));
        };
        NginxServer nginx;
        QVERIFY2(nginx.Start(shipped("qx77-tool.conf"), shipped("qx77-service.conf"), {https, tls}, &error),
                 qPrintable(error));
        const QString ca = certs.filePath(u"ca.pem"_qs);

        const QByteArray page = talk("127.0.0.5", https,
                                     get("/api/packs?via-nginx", "X-Forwarded-For: 127.0.0.66\r\n"), ca);
        QVERIFY2(page.startsWith("HTTP/1.1 200"), page.constData());
        QVERIFY(logged("http 127.0.0.5 GET /api/packs?via-nginx 200"));
        QCOMPARE(loginFlag(talk("127.0.0.5", tls, loginRequest(), ca)), std::string("1"));
        QVERIFY(logged("service 127.0.0.5 login \"demo\" accepted"));
        QVERIFY(!m_server.log.contains("127.0.0.66"));
    }
};

YFZS_TEST_CLASS(DeploymentTest)
#include "deploy_test.moc"
