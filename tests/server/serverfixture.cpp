#include "serverfixture.h"

#include "demodata.h"
#include "gbk.h"
#include "packcatalogue.h"
#include "serviceclient.h"
#include "serviceprotocol.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTest>

bool RunningServer::Start(const Tuning& tune)
{
    if (!dir.isValid() || !MakeDemoData(DataDir()))
        return false;
    if (!accounts.Open(DataDir() + "/" + std::string(layout::kAccounts)))
        return false;
    auto quiet = [](const std::string&) {};
    ToolServer::Config toolConfig{"127.0.0.1", 0, DataDir(), QX77_WEB_DIR};
    ServiceHost::Config config;
    config.port = 0;
    config.versionsFile = DataDir() + "/" + std::string(layout::kVersions);
    config.receiveTimeoutMs = 2000;
    config.loginsPerSecond = config.loginBurst = 1e6;
    config.backoff.freeFailures = 1 << 30;
    config.backoff.maxInFlight = 1 << 30;
    config.backoff.failuresPerHour = 1 << 30;
    if (tune)
        tune(toolConfig, config);
    tool = std::make_unique<ToolServer>(accounts, toolConfig, quiet);
    service = std::make_unique<ServiceHost>(accounts, config, quiet);
    std::string error;
    return tool->Start(&error) && service->Start(&error);
}

std::string RunningServer::DataDir() const
{
    return dir.path().toStdString();
}

std::string RunningServer::DataFile(const std::string& relative) const
{
    return readFile(QString::fromStdString(DataDir() + "/" + relative)).toStdString();
}

std::string RunningServer::Origin() const
{
    return "http://127.0.0.1:" + std::to_string(tool->Port());
}

std::unique_ptr<QTcpSocket> ConnectFrom(int port, const char* from, const QString& caFile)
{
    std::unique_ptr<QTcpSocket> socket;
    QSslSocket* tls = nullptr;
    if (caFile.isEmpty()) {
        socket = std::make_unique<QTcpSocket>();
    } else {
        socket = std::make_unique<QSslSocket>();
        tls = static_cast<QSslSocket*>(socket.get());
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(QSslCertificate::fromPath(caFile));
        tls->setSslConfiguration(config);
    }
    if (!socket->bind(QHostAddress(QString::fromLatin1(from))))
        return nullptr;
    if (tls)
        tls->connectToHostEncrypted(u"127.0.0.1"_qs, static_cast<quint16>(port));
    else
        socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    const bool up = tls ? tls->waitForEncrypted(5000) : socket->waitForConnected(5000);
    return up ? std::move(socket) : nullptr;
}

QByteArray ReadToClose(QTcpSocket& socket, bool* closed, int ms)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray got;
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < ms) {
        socket.waitForReadyRead(50);
        got += socket.readAll();
    }
    got += socket.readAll();
    if (closed)
        *closed = socket.state() != QAbstractSocket::ConnectedState;
    return got;
}

std::string Exchange(int port, const std::string& bytes)
{
    return svc::Exchange(port, bytes);
}

std::vector<std::string> ReplyFields(const std::string& reply)
{
    const std::string text = reply.substr(0, reply.find('\0'));
    const std::string utf8 = gbk::ToUtf8(text).value_or("");
    std::vector<std::string> out;
    for (std::string_view f : svc::SplitFields(utf8))
        out.emplace_back(f);
    return out;
}

std::string LoginFlag(int port, const std::string& user, const std::string& password, const std::string& from)
{
    const auto request = svc::BuildRequest(svc::kLoginCode, {"0-1a-2b-3-4-ff", "127.0.0.1", user, password});
    const auto fields = ReplyFields(svc::Exchange(port, request.value_or(""), "127.0.0.1", from));
    return fields.size() > 3 ? fields[3] : std::string();
}

httplib::Result Register(int port, const std::string& user, const std::string& password)
{
    httplib::Client web("127.0.0.1", port);
    return web.Post("/member.php?mod=register",
                    httplib::Params{{"username", user}, {"password", password}, {"password2", password}});
}

bool ServerProcess::Start(const QStringList& args)
{
    process.start(program, args + QStringList{u"--tool-port"_qs, u"0"_qs, u"--service-port"_qs, u"0"_qs});
    if (!process.waitForStarted())
        return false;
    static const QRegularExpression tool(u"http://127\\.0\\.0\\.1:(\\d+)/CF20"_qs);
    static const QRegularExpression service(u"service host 127\\.0\\.0\\.1:(\\d+)\\n"_qs);
    const bool up = QTest::qWaitFor(
        [&] {
            log += process.readAllStandardError();
            return service.match(QString::fromUtf8(log)).hasMatch()
                || process.state() == QProcess::NotRunning;
        },
        15000);
    const QString text = QString::fromUtf8(log);
    if (!up || !service.match(text).hasMatch()) {
        qWarning("qx77-server did not start: %s", log.constData());
        return false;
    }
    toolPort = tool.match(text).captured(1).toInt();
    servicePort = service.match(text).captured(1).toInt();
    return true;
}

ServerProcess::~ServerProcess()
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
}

int RunServer(const QStringList& args, QByteArray* log)
{
    QProcess server;
    server.start(QStringLiteral(QX77_SERVER_PATH), args);
    if (!server.waitForFinished(15000))
        return -1;
    if (log)
        *log = server.readAllStandardError();
    return server.exitCode();
}
