#pragma once
// A running tool server and service host on free loopback ports over demo data in a
// temporary folder, the qx77-server program run as a process, and minimal clients of the
// registration form and the service protocol.

#include "accounts.h"
#include "servicehost.h"
#include "toolserver.h"

#include <httplib.h>

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct RunningServer
{
    QTemporaryDir dir;
    Accounts accounts;
    std::unique_ptr<ToolServer> tool;
    std::unique_ptr<ServiceHost> service;

    using Tuning = std::function<void(ToolServer::Config&, ServiceHost::Config&)>;

    // Makes the demo data and starts both servers. Login limits are lifted unless `tune` sets
    // them: most tests check answers, and the limit tests set their own.
    bool Start(const Tuning& tune = {});
    std::string DataDir() const;
    std::string Origin() const; // http://127.0.0.1:port
    // The bytes of a file in the data folder, "<missing>" when it cannot be read.
    std::string DataFile(const std::string& relative) const;
};

// A raw connection from a chosen loopback address, so that tests can play several peers;
// inside TLS trusting the CA in `caFile` when one is given. Null when it cannot connect.
std::unique_ptr<QTcpSocket> ConnectFrom(int port, const char* from = "127.0.0.1", const QString& caFile = {});
// What the server sends until it closes; `closed` tells whether it did within `ms`.
QByteArray ReadToClose(QTcpSocket& socket, bool* closed = nullptr, int ms = 8000);

// Sends the bytes, shuts down the sending side and reads until the server closes.
std::string Exchange(int port, const std::string& bytes);
// Reply text up to its first zero byte, from GBK, split at DC1.
std::vector<std::string> ReplyFields(const std::string& reply);
// Field 3 of a login exchange; "" when the reply was too short. `from`: the loopback address
// the client connects from, standing for one peer.
std::string LoginFlag(int port, const std::string& user, const std::string& password,
                      const std::string& from = {});
// The registration form posted with both password fields.
httplib::Result Register(int port, const std::string& user, const std::string& password);

// A qx77-server process on free loopback ports, stopped with SIGTERM when it goes.
struct ServerProcess
{
    QString program = QStringLiteral(QX77_SERVER_PATH);
    QProcess process;
    QByteArray log; // its standard error, up to the line that names the service port
    int toolPort = 0;
    int servicePort = 0;

    bool Start(const QStringList& args);
    ~ServerProcess();
};

// Runs qx77-server to its end: the exit code, with its standard error in `log`.
int RunServer(const QStringList& args, QByteArray* log = nullptr);
