#include "testrunner.h"

#include "serverfixture.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class ServerExecutableTest : public QObject
{
    Q_OBJECT

private slots:
    void runsOnFreePortsAndStopsOnSigterm()
    {
        QTemporaryDir dir;
        const QString program = QStringLiteral(QX77_SERVER_PATH);
        QCOMPARE(QProcess::execute(
                     program, {QStringLiteral("--make-demo"), dir.path(), QStringLiteral("--small-packs")}),
                 0);

        QProcess server;
        server.setProcessChannelMode(QProcess::SeparateChannels);
        server.start(program,
                     {dir.path(), QStringLiteral("--tool-port"), QStringLiteral("0"),
                      QStringLiteral("--service-port"), QStringLiteral("0")});
        QVERIFY(server.waitForStarted());
        QByteArray log;
        static const QRegularExpression servicePort(QStringLiteral("service host 127\\.0\\.0\\.1:(\\d+)\\n"));
        static const QRegularExpression toolPort(QStringLiteral("http://127\\.0\\.0\\.1:(\\d+)/CF20"));
        QTRY_VERIFY_WITH_TIMEOUT(
            (log += server.readAllStandardError(), servicePort.match(QString::fromUtf8(log)).hasMatch()),
            10000);
        const int service = servicePort.match(QString::fromUtf8(log)).captured(1).toInt();
        const int tool = toolPort.match(QString::fromUtf8(log)).captured(1).toInt();

        QCOMPARE(LoginFlag(service, "demo", "demo123"), std::string("1"));
        httplib::Client web("127.0.0.1", tool);
        QCOMPARE(web.Get("/api/packs")->status, 200);

        // A client that connects and says nothing must not hold up the stop.
        QTcpSocket silent;
        silent.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(service));
        QVERIFY(silent.waitForConnected(3000));
        QTest::qWait(200);

        QElapsedTimer stopping;
        stopping.start();
        server.terminate(); // SIGTERM
        QVERIFY(server.waitForFinished(5000));
        QVERIFY2(stopping.elapsed() < 3000, "the stop waited for the silent client");
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 0);
        log += server.readAllStandardError();
        QVERIFY(log.contains("login \"demo\" accepted")); // one log line per request
        QVERIFY(log.contains("GET /api/packs 200"));
    }

    void badCommandLinesAreExplained()
    {
        QProcess server;
        server.start(QStringLiteral(QX77_SERVER_PATH),
                     {QStringLiteral("--tool-port"), QStringLiteral("http")});
        QVERIFY(server.waitForFinished(5000));
        QCOMPARE(server.exitCode(), 2);
        QVERIFY(server.readAllStandardError().contains("--tool-port needs a port number"));

        server.start(QStringLiteral(QX77_SERVER_PATH), {QStringLiteral("/no/such/folder")});
        QVERIFY(server.waitForFinished(5000));
        QCOMPARE(server.exitCode(), 2);
        QVERIFY(server.readAllStandardError().contains("not a folder"));
    }
};

YFZS_TEST_CLASS(ServerExecutableTest)
#include "executable_test.moc"
