// qx77-server: the bundled tool server (HTTP) and service host (TCP) for one machine.

#include "accounts.h"
#include "demodata.h"
#include "packcatalogue.h"
#include "servicehost.h"
#include "toolserver.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

#ifndef QX77_SOURCE_WEB_DIR
#define QX77_SOURCE_WEB_DIR "web"
#endif

namespace {

constexpr const char* kUsage =
    "usage: qx77-server [options] DATA_DIR\n"
    "       qx77-server --make-demo DATA_DIR [--small-packs] [--database DB]\n"
    "options:\n"
    "  --data DIR           the data folder (same as DATA_DIR)\n"
    "  --database DB        the accounts: an SQLite file (default DATA_DIR/accounts.db) or a\n"
    "                       PostgreSQL URI postgresql://user@host/dbname that several servers share\n"
    "  --web DIR            the tool page's folder (default: ../share/qx77-server/web beside the\n"
    "                       program, as installed; else the source tree's web/)\n"
    "  --public-url URL     where players reach the tool server (https://tools.example.com), the\n"
    "                       base of the pack links (default http://HOST:TOOL_PORT, or links\n"
    "                       relative to the page when HOST is 0.0.0.0 or ::)\n"
    "  --trusted-proxy ADDR a reverse proxy (address or network, repeatable) whose PROXY headers\n"
    "                       and X-Forwarded-For / X-Real-IP name the client; ignored from others\n"
    "  --host ADDR          IPv4 address to listen on (default 127.0.0.1)\n"
    "  --tool-port N        HTTP port (default $QX77_TOOL_PORT or 8088; 0 picks a free one)\n"
    "  --service-port N     service port (default $QX77_SERVICE_PORT or 3130; 0 picks a free one)\n"
    "  --quiet              no request log\n"
    "  --small-packs        with --make-demo: packs of a few KB instead of a few MB\n";

std::optional<int> ParsePort(const std::string& text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int port = std::stoi(text);
    return port <= 65535 ? std::optional<int>(port) : std::nullopt;
}

int PortFromEnv(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return fallback;
    if (const auto port = ParsePort(value))
        return *port;
    std::cerr << "qx77-server: ignoring " << name << "=" << value << " (not a port)\n";
    return fallback;
}

// The installed tool page sits in share/ beside bin/; a program run from the build tree uses the
// sources' own folder instead.
std::string defaultWebDir()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path installed = self.parent_path().parent_path() / "share" / "qx77-server" / "web";
        if (fs::is_regular_file(installed / "index.html", ec))
            return installed.string();
    }
    return QX77_SOURCE_WEB_DIR;
}

int Usage(const std::string& problem)
{
    std::cerr << "qx77-server: " << problem << "\n" << kUsage;
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dataDir, webDir, publicUrl, host = "127.0.0.1", makeDemo, database;
    int toolPort = PortFromEnv("QX77_TOOL_PORT", 8088);
    int servicePort = PortFromEnv("QX77_SERVICE_PORT", 3130);
    bool quiet = false, smallPacks = false;
    TrustedProxies trusted;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--small-packs") {
            smallPacks = true;
        } else if (arg == "--database") {
            if (!value(database) || database.empty())
                return Usage("--database needs a file or a postgresql:// URI");
        } else if (arg == "--public-url") {
            if (!value(text) || (publicUrl = ToolServer::NormalPublicUrl(text)).empty())
                return Usage("--public-url needs an http:// or https:// address");
        } else if (arg == "--trusted-proxy") {
            if (!value(text) || !trusted.Add(text))
                return Usage("--trusted-proxy needs an address or network (10.0.0.0/8)");
        } else if (arg == "--make-demo") {
            if (!value(makeDemo))
                return Usage("--make-demo needs a folder");
        } else if (arg == "--web" || arg == "--host" || arg == "--data") {
            if (!value(arg == "--web" ? webDir : arg == "--host" ? host : dataDir))
                return Usage(arg + " needs a value");
        } else if (arg == "--tool-port" || arg == "--service-port") {
            std::optional<int> port;
            if (value(text))
                port = ParsePort(text);
            if (!port)
                return Usage(arg + " needs a port number");
            (arg == "--tool-port" ? toolPort : servicePort) = *port;
        } else if (!arg.empty() && arg[0] != '-' && dataDir.empty()) {
            dataDir = arg;
        } else {
            return Usage("unknown argument " + arg);
        }
    }

    if (!makeDemo.empty()) {
        std::string error;
        if (!MakeDemoData(makeDemo, &error, {!smallPacks, database})) {
            std::cerr << "qx77-server: " << error << "\n";
            return 1;
        }
        std::cerr << "qx77-server: demo data in " << makeDemo << " (account " << kDemoUser << " / "
                  << kDemoPassword << ")\n";
        return 0;
    }
    if (dataDir.empty())
        return Usage("no data folder given");
    if (webDir.empty())
        webDir = defaultWebDir();
    if (!std::filesystem::is_directory(dataDir))
        return Usage("not a folder: " + dataDir);

    // Signals are taken by sigwait below; every thread started from here inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::mutex logMutex;
    auto log = [&](const std::string& line) {
        if (quiet)
            return;
        std::lock_guard lock(logMutex);
        std::cerr << line << '\n';
    };

    Accounts accounts;
    std::string error;
    if (database.empty())
        database = (std::filesystem::path(dataDir) / layout::kAccounts).string();
    if (!accounts.Open(database, &error)) {
        std::cerr << "qx77-server: accounts: " << error << "\n";
        return 1;
    }
    ToolServer::Config toolConfig;
    toolConfig.host = host;
    toolConfig.port = toolPort;
    toolConfig.dataDir = dataDir;
    toolConfig.webDir = webDir;
    toolConfig.trustedProxies = trusted;
    toolConfig.publicUrl = publicUrl;

    ServiceHost::Config serviceConfig;
    serviceConfig.host = host;
    serviceConfig.port = servicePort;
    serviceConfig.versionsFile = (std::filesystem::path(dataDir) / layout::kVersions).string();
    serviceConfig.trustedProxies = trusted;
    ToolServer tool(accounts, toolConfig, log);
    ServiceHost service(accounts, serviceConfig, log);
    if (!tool.Start(&error) || !service.Start(&error)) {
        std::cerr << "qx77-server: " << error << "\n";
        return 1;
    }
    // Always printed: callers that asked for port 0 read the ports from these lines.
    std::cerr << "qx77-server: tool page http://" << host << ":" << tool.Port() << "/CF20/CF_Index.aspx\n"
              << "qx77-server: service host " << host << ":" << service.Port() << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::cerr << "qx77-server: stopping (signal " << signal << ")" << std::endl;
    service.Stop();
    tool.Stop();
    return 0;
}
