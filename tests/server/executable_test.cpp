#include "testrunner.h"

#include "serverfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

class ServerExecutableTest : public QObject
{
    Q_OBJECT

private slots:
    void runsOnFreePortsAndStopsOnSigterm()
    {
        QTemporaryDir dir;
        QCOMPARE(RunServer({u"--make-demo"_qs, dir.path(), u"--small-packs"_qs}), 0);
        ServerProcess server;
        QVERIFY(server.Start({dir.path()}));
        QCOMPARE(LoginFlag(server.servicePort, "demo", "demo123"), std::string("1"));
        httplib::Client web("127.0.0.1", server.toolPort);
        QCOMPARE(web.Get("/api/packs")->status, 200);

        // A client that connects and says nothing must not hold up the stop.
        QTcpSocket silent;
        silent.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(server.servicePort));
        QVERIFY(silent.waitForConnected(3000));
        QTest::qWait(200);

        QElapsedTimer stopping;
        stopping.start();
        server.process.terminate(); // SIGTERM
        QVERIFY(server.process.waitForFinished(5000));
        QVERIFY2(stopping.elapsed() < 3000, "the stop waited for the silent client");
        QCOMPARE(server.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.process.exitCode(), 0);
        server.log += server.process.readAllStandardError();
        QVERIFY(server.log.contains("login \"demo\" accepted")); // one log line per request
        QVERIFY(server.log.contains("GET /api/packs 200"));
    }

    // Installed, the program serves the tool page from share/ beside its bin/, wherever it was
    // built.
    void findsItsInstalledToolPage()
    {
        QTemporaryDir data, prefix;
        QCOMPARE(RunServer({u"--make-demo"_qs, data.path(), u"--small-packs"_qs}), 0);
        QVERIFY(QDir(prefix.path()).mkpath(u"bin"_qs)
                && QDir(prefix.path()).mkpath(u"share/qx77-server/web"_qs));
        ServerProcess server;
        server.program = prefix.filePath(u"bin/qx77-server"_qs);
        QVERIFY(QFile::copy(QStringLiteral(QX77_SERVER_PATH), server.program));
        QFile page(prefix.filePath(u"share/qx77-server/web/index.html"_qs));
        QVERIFY(page.open(QIODevice::WriteOnly) && page.write("installed page") > 0);
        page.close();
        QVERIFY(server.Start({data.path(), u"--quiet"_qs}));
        httplib::Client web("127.0.0.1", server.toolPort);
        QCOMPARE(web.Get("/CF20/CF_Index.aspx")->body, std::string("installed page"));
    }

    void badCommandLinesAreExplained()
    {
        QByteArray log;
        QCOMPARE(RunServer({u"--tool-port"_qs, u"http"_qs}, &log), 2);
        QVERIFY(log.contains("--tool-port needs a port number"));
        QCOMPARE(RunServer({u"/no/such/folder"_qs}, &log), 2);
        QVERIFY(log.contains("not a folder"));
    }
};

YFZS_TEST_CLASS(ServerExecutableTest)
#include "executable_test.moc"
