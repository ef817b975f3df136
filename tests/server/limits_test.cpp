#include "testrunner.h"

#include "serverfixture.h"
#include "serviceprotocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

QByteArray exchange(QTcpSocket& socket, const QByteArray& bytes, bool* closed = nullptr)
{
    socket.write(bytes);
    socket.waitForBytesWritten(5000);
    return ReadToClose(socket, closed);
}

QByteArray getRequest(const std::string& target)
{
    return QByteArray::fromStdString("GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
}

std::string loginFrom(int port, const char* from, const std::string& user, const std::string& password)
{
    auto socket = ConnectFrom(port, from);
    if (!socket)
        return "no connection";
    const auto request = svc::BuildRequest(svc::kLoginCode, {"0-1a-2b-3-4-ff", "127.0.0.1", user, password});
    const auto fields = ReplyFields(exchange(*socket, QByteArray::fromStdString(*request)).toStdString());
    return fields.size() > 3 ? fields[3] : std::string();
}

// Opens `cap` connections from `from` into `held`: true when they all connected and the next
// one was closed without a word (waited for up to `ms`).
bool fillPeerCap(int port, const char* from, int cap, std::vector<std::unique_ptr<QTcpSocket>>& held, int ms)
{
    for (int i = 0; i < cap; ++i) {
        held.push_back(ConnectFrom(port, from));
        if (!held.back())
            return false;
    }
    auto over = ConnectFrom(port, from);
    bool closed = false;
    return over && ReadToClose(*over, &closed, ms).isEmpty() && closed;
}

} // namespace

class HttpLimitsTest : public QObject
{
    Q_OBJECT

    RunningServer m_strict; // short deadlines and small heads
    RunningServer m_normal; // the shipped limits, registrations paced tightly
    int m_strictPort = 0, m_port = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_strict.Start([](ToolServer::Config& c, ServiceHost::Config&) {
            c.limits.head = 1000ms;
            c.limits.idle = 1000ms;
            c.limits.write = 1000ms;
            c.limits.maxHeadBytes = 4096;
            c.limits.maxHeaderFields = 20;
        }));
        QVERIFY(m_normal.Start([](ToolServer::Config& c, ServiceHost::Config&) {
            c.registrationBurst = 2;
            c.registrationsPerSecond = 0.001;
        }));
        m_strictPort = m_strict.tool->Port();
        m_port = m_normal.tool->Port();
    }

    void slowAndIdleClientsAreDroppedAtTheirDeadline()
    {
        bool closed = false;
        auto silent = ConnectFrom(m_strictPort);
        QVERIFY(silent);
        QCOMPARE(ReadToClose(*silent, &closed), QByteArray());
        QVERIFY(closed);

        auto dribbling = ConnectFrom(m_strictPort);
        dribbling->write("GET /CF20/CF_Index.aspx HTTP/1.1\r\nHost: x\r\n");
        QElapsedTimer timer;
        timer.start();
        QByteArray got;
        while (dribbling->state() == QAbstractSocket::ConnectedState && timer.elapsed() < 8000) {
            dribbling->write("X-A: b\r\n");
            dribbling->waitForReadyRead(100);
            got += dribbling->readAll();
        }
        QVERIFY2(dribbling->state() != QAbstractSocket::ConnectedState, "a dribbled head was not cut off");
        QVERIFY(!got.contains("HTTP/1.1"));

        // Kept alive after an answer, then idle too long.
        auto idle = ConnectFrom(m_strictPort);
        idle->write("GET /CF20/site.css HTTP/1.1\r\nHost: x\r\n\r\n");
        const QByteArray answered = ReadToClose(*idle, &closed);
        QVERIFY(answered.startsWith("HTTP/1.1 200"));
        QVERIFY(answered.contains("Connection: keep-alive"));
        QVERIFY(closed);
    }

    void keptAliveConnectionsServePipelinedRequests()
    {
        auto socket = ConnectFrom(m_port);
        bool closed = false;
        const QByteArray got = exchange(*socket,
                                        "GET /api/packs HTTP/1.1\r\nHost: x\r\n\r\n"
                                        "HEAD /CF20/toolpage.js HTTP/1.1\r\nHost: x\r\n\r\n"
                                            + getRequest("/packs/skin_blue.zip"),
                                        &closed);
        QCOMPARE(got.count("HTTP/1.1 200 OK"), 3);
        QVERIFY(got.contains("\"packs\""));
        QVERIFY(got.contains("text/javascript"));
        QVERIFY(got.endsWith(QByteArray::fromStdString(m_normal.DataFile("packs/skin_blue.zip"))));
        QVERIFY(closed); // the last request asked for it
    }

    void oversizedAndMalformedHeadsAreRefused()
    {
        QByteArray many = "GET / HTTP/1.1\r\nHost: x\r\n";
        for (int i = 0; i < 25; ++i)
            many += "X-" + QByteArray::number(i) + ": v\r\n";
        const QList<QPair<QByteArray, QByteArray>> cases = {
            {many + "\r\n", "HTTP/1.1 431"},
            {"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + QByteArray(8000, 'a') + "\r\n\r\n", "HTTP/1.1 431"},
            {"GET /" + QByteArray(8000, 'a') + " HTTP/1.1\r\n\r\n", "HTTP/1.1 431"},
            {"NOT HTTP AT ALL\r\n\r\n", "HTTP/1.1 400"},
            {"GET / HTTP/1.1\r\nNo colon here\r\n\r\n", "HTTP/1.1 400"},
            {"POST /member.php?mod=register HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n",
             "HTTP/1.1 413"},
        };
        for (const auto& [request, expected] : cases) {
            auto socket = ConnectFrom(m_strictPort);
            bool closed = false;
            const QByteArray got = exchange(*socket, request, &closed);
            QVERIFY2(got.startsWith(expected), (request.left(20) + " -> " + got.left(20)).constData());
            QVERIFY(closed);
        }
        // Header lines without end: refused once the limit is passed, not read on for ever.
        auto endless = ConnectFrom(m_strictPort);
        QByteArray lines = "GET / HTTP/1.1\r\n";
        while (lines.size() < 32 * 1024)
            lines += "X-Filler: aaaaaaaaaaaaaaaaaaaaaaaa\r\n";
        bool closed = false;
        QVERIFY(exchange(*endless, lines, &closed).startsWith("HTTP/1.1 431"));
        QVERIFY(closed);
        // The server is still there for everybody.
        auto after = ConnectFrom(m_strictPort);
        QVERIFY(exchange(*after, getRequest("/CF20/site.css")).startsWith("HTTP/1.1 200"));
    }

    void pathsWithControlBytesAreRefused()
    {
        for (const char* target :
             {"/CF20/toolpage.js%00.html", "/CF20/toolpage.js%00", "/packs/skin_blue.zip%0A",
              "/CF20/%01toolpage.js", "/CF20/toolpage.js%7F", "/CF20/a%0D%0AX-Injected:%201"}) {
            auto socket = ConnectFrom(m_port);
            const QByteArray got = exchange(*socket, getRequest(target));
            QVERIFY2(got.startsWith("HTTP/1.1 400"), target);
            QVERIFY(!got.contains("X-Injected"));
        }
        auto fine = ConnectFrom(m_port);
        const QByteArray got = exchange(*fine, getRequest("/CF20/toolpage.js"));
        QVERIFY(got.startsWith("HTTP/1.1 200"));
        QVERIFY(got.contains("Content-Type: text/javascript"));
    }

    // Readers that stop reading a large file cost no buffer, and are let go, file and all, once
    // their socket has had no room for a whole write deadline; others are served meanwhile.
    void stalledReadersAreLetGoAtTheWriteDeadline()
    {
        QFile pack(QString::fromStdString(m_strict.DataDir()) + u"/packs/big.zip"_qs);
        QVERIFY(pack.open(QIODevice::WriteOnly) && pack.write(QByteArray(32 << 20, 'z')) == (32 << 20));
        pack.close();
        auto openFiles = [] { return QDir(u"/proc/self/fd"_qs).count(); };
        const auto before = openFiles();
        std::vector<std::unique_ptr<QTcpSocket>> stalled;
        for (int i = 0; i < 20; ++i) {
            stalled.push_back(ConnectFrom(m_strictPort, "127.0.0.4"));
            QVERIFY(stalled.back());
            stalled.back()->setReadBufferSize(4096); // Qt stops taking from the kernel
            stalled.back()->write(getRequest("/packs/big.zip"));
            stalled.back()->waitForBytesWritten(1000);
        }
        QVERIFY(exchange(*ConnectFrom(m_strictPort, "127.0.0.5"), getRequest("/CF20/site.css"))
                    .startsWith("HTTP/1.1 200"));
        QTRY_VERIFY_WITH_TIMEOUT(openFiles() <= before + 20, 5000); // only our own ends are left
    }

    // The shipped cap leaves room for browsers, downloads and players behind one address.
    void connectionsAreCappedPerPeer()
    {
        std::vector<std::unique_ptr<QTcpSocket>> held;
        QVERIFY(fillPeerCap(m_port, "127.0.0.2", 64, held, 8000));
        auto other = ConnectFrom(m_port, "127.0.0.3");
        QVERIFY(exchange(*other, getRequest("/CF20/site.css")).startsWith("HTTP/1.1 200"));
        for (auto& socket : held)
            socket->write(getRequest("/CF20/site.css"));
        for (auto& socket : held)
            QVERIFY(ReadToClose(*socket).startsWith("HTTP/1.1 200"));
    }

    void registrationsArePacedPerPeer()
    {
        QCOMPARE(Register(m_port, "pace1", "pw")->status, 200);
        QCOMPARE(Register(m_port, "pace2", "pw")->status, 200);
        const auto third = Register(m_port, "pace3", "pw");
        QCOMPARE(third->status, 429);
        QVERIFY(third->body.find("太频繁") != std::string::npos);
        QVERIFY(!m_normal.accounts.Check("pace3", "pw"));
    }
};

class ServiceLimitsTest : public QObject
{
    Q_OBJECT

    RunningServer m_server;
    int m_port = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.Start([](ToolServer::Config&, ServiceHost::Config& c) {
            c.receiveTimeoutMs = 3000;
            c.loginsPerSecond = 0.001;
            c.loginBurst = 3;
            c.backoff = {3, 60s, 60s, 4, 3}; // three failures an hour per account, from anywhere
        }));
        m_port = m_server.service->Port();
    }

    void silentClientsHoldUpNobody()
    {
        std::vector<std::unique_ptr<QTcpSocket>> silent;
        for (int i = 0; i < 100; ++i) {
            const QByteArray from = "127.0.1." + QByteArray::number(1 + i % 5);
            silent.push_back(ConnectFrom(m_port, from.constData()));
            QVERIFY(silent.back());
        }
        QCOMPARE(loginFrom(m_port, "127.0.0.5", "demo", "demo123"), std::string("1"));
        // Each silent client is answered "no" at its deadline, and closed.
        for (auto& socket : silent) {
            bool closed = false;
            const auto fields = ReplyFields(ReadToClose(*socket, &closed).toStdString());
            QVERIFY(closed);
            QVERIFY(fields.size() > 3 && fields[3] == "0");
        }
    }

    void connectionsAreCappedPerPeer()
    {
        std::vector<std::unique_ptr<QTcpSocket>> held;
        QVERIFY(fillPeerCap(m_port, "127.0.0.6", 32, held, 2000));
        QCOMPARE(loginFrom(m_port, "127.0.0.7", "demo", "demo123"), std::string("1"));
    }

    void loginsArePacedPerPeer()
    {
        for (int i = 0; i < 3; ++i)
            QCOMPARE(loginFrom(m_port, "127.0.0.8", "demo", "demo123"), std::string("1"));
        QCOMPARE(loginFrom(m_port, "127.0.0.8", "demo", "demo123"), std::string("0"));
        QCOMPARE(loginFrom(m_port, "127.0.0.9", "demo", "demo123"), std::string("1"));
    }

    // Guesses from several addresses spend the account's budget; other accounts carry on.
    void guessesPauseTheAccount()
    {
        QCOMPARE(m_server.accounts.Register("guessme", "right"), Accounts::RegisterResult::Created);
        QCOMPARE(loginFrom(m_port, "127.0.0.10", "guessme", "wrong1"), std::string("0"));
        QCOMPARE(loginFrom(m_port, "127.0.0.11", "guessme", "wrong2"), std::string("0"));
        QCOMPARE(loginFrom(m_port, "127.0.0.12", "GuessMe", "wrong3"), std::string("0"));
        QCOMPARE(loginFrom(m_port, "127.0.0.13", "guessme", "right"), std::string("0"));
        QCOMPARE(loginFrom(m_port, "127.0.0.13", "demo", "demo123"), std::string("1"));
    }
};

YFZS_TEST_CLASS(HttpLimitsTest)
YFZS_TEST_CLASS(ServiceLimitsTest)
#include "limits_test.moc"
