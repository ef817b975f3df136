// Prints service-host logins per second from 4 client threads and the HTTP throughput of a
// pack download, both over loopback against servers started here on free ports.
//   server_bench [logins-per-thread] [pack-MiB]

#include "accounts.h"
#include "demodata.h"
#include "packcatalogue.h"
#include "serviceclient.h"
#include "servicehost.h"
#include "serviceprotocol.h"
#include "toolserver.h"

#include <httplib.h>

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int perThread = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const int packMiB = argc > 2 ? std::max(1, std::atoi(argv[2])) : 64;
    constexpr int kThreads = 4;

    QTemporaryDir dir;
    const std::string data = dir.path().toStdString();
    std::string error;
    if (!MakeDemoData(data, &error)) {
        std::fprintf(stderr, "server_bench: %s\n", error.c_str());
        return 1;
    }
    Accounts accounts;
    accounts.Open(data + "/" + std::string(layout::kAccounts));
    auto quiet = [](const std::string&) {};
    ToolServer tool(accounts, {"127.0.0.1", 0, data, "."}, quiet);
    ServiceHost::Config config;
    config.port = 0;
    config.versionsFile = data + "/" + std::string(layout::kVersions);
    ServiceHost service(accounts, config, quiet);
    if (!tool.Start(&error) || !service.Start(&error)) {
        std::fprintf(stderr, "server_bench: %s\n", error.c_str());
        return 1;
    }

    // The password hash is most of a login's cost; measure it alone for comparison.
    const int hashRuns = 20;
    auto start = Clock::now();
    for (int i = 0; i < hashRuns; ++i)
        accounts.Check(kDemoUser, kDemoPassword);
    const double hashPerSecond = hashRuns / Seconds(start);

    const std::string request =
        *svc::BuildRequest(svc::kLoginCode, {"0-1a-2b-3-4-ff", "127.0.0.1", kDemoUser, kDemoPassword});
    std::atomic<int> accepted{0};
    start = Clock::now();
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t)
        clients.emplace_back([&] {
            for (int i = 0; i < perThread; ++i) {
                const std::string reply = svc::Exchange(service.Port(), request);
                const std::string text = reply.substr(0, reply.find('\0'));
                const auto fields = svc::SplitFields(text);
                if (fields.size() > 3 && fields[3] == "1")
                    ++accepted;
            }
        });
    for (std::thread& t : clients)
        t.join();
    const double loginSeconds = Seconds(start);
    const int logins = kThreads * perThread;
    const double loginsPerSecond = logins / loginSeconds;
    std::printf("service logins: %d from %d threads in %.2f s = %.1f logins/s (%d accepted)\n", logins, kThreads,
                loginSeconds, loginsPerSecond, accepted.load());
    std::printf("  password hash alone, one thread: %.1f/s; logins/s per hash/s = %.2f (cores: %u)\n",
                hashPerSecond, loginsPerSecond / hashPerSecond, std::thread::hardware_concurrency());

    // A pack of random bytes, so nothing along the way can compress it.
    const std::string packPath = data + "/packs/bench.zip";
    {
        std::ofstream out(packPath, std::ios::binary);
        std::mt19937_64 random(77);
        std::vector<std::uint64_t> block(1 << 17);
        for (int mib = 0; mib < packMiB; ++mib) {
            for (auto& word : block)
                word = random();
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
    }
    httplib::Client web("127.0.0.1", tool.Port());
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        std::size_t received = 0;
        start = Clock::now();
        const auto res = web.Get("/packs/bench.zip", [&](const char*, std::size_t n) {
            received += n;
            return true;
        });
        const double seconds = Seconds(start);
        if (!res || res->status != 200 || received != static_cast<std::size_t>(packMiB) << 20) {
            std::fprintf(stderr, "server_bench: download failed\n");
            return 1;
        }
        best = std::max(best, packMiB / seconds);
    }
    std::size_t resumed = 0;
    start = Clock::now();
    web.Get("/packs/bench.zip", {{"Range", "bytes=" + std::to_string((static_cast<std::size_t>(packMiB) << 20) / 2) + "-"}},
            [&](const char*, std::size_t n) {
                resumed += n;
                return true;
            });
    const double resumeRate = static_cast<double>(resumed) / (1 << 20) / Seconds(start);
    std::printf("pack download: %d MiB, best of 3 = %.0f MiB/s; resumed second half = %.0f MiB/s\n", packMiB, best,
                resumeRate);
    service.Stop();
    tool.Stop();
    return accepted == logins ? 0 : 1;
}
