#include "serverfixture.h"

#include "demodata.h"
#include "gbk.h"
#include "packcatalogue.h"
#include "serviceclient.h"
#include "serviceprotocol.h"

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

std::string RunningServer::Origin() const
{
    return "http://127.0.0.1:" + std::to_string(tool->Port());
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

std::string LoginFlag(int port, const std::string& user, const std::string& password)
{
    const auto request = svc::BuildRequest(svc::kLoginCode, {"0-1a-2b-3-4-ff", "127.0.0.1", user, password});
    const auto fields = ReplyFields(Exchange(port, request.value_or("")));
    return fields.size() > 3 ? fields[3] : std::string();
}
