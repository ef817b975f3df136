#pragma once
// A running tool server and service host on free loopback ports over demo data in a
// temporary folder, and a minimal client of the service protocol.

#include "accounts.h"
#include "servicehost.h"
#include "toolserver.h"

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
};

// Sends the bytes, shuts down the sending side and reads until the server closes.
std::string Exchange(int port, const std::string& bytes);
// Reply text up to its first zero byte, from GBK, split at DC1.
std::vector<std::string> ReplyFields(const std::string& reply);
// Field 3 of a login exchange; "" when the reply was too short.
std::string LoginFlag(int port, const std::string& user, const std::string& password);
