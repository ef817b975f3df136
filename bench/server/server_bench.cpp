// The vendor server under attack and under load, over loopback, in one run. qx77-server runs
// as a process of its own on free ports (so its memory can be read), fed demo data:
//   server_bench [path/to/qx77-server]   (default: $QX77_BENCH_SERVER, else the one built here)
// Figures: a page request while 500 slow-header connections are held; a good login while
// 1,000 silent sockets are held, and while 300 connections flood unknown-name logins from
// another peer; the server's memory after one client sent 300 MiB of header lines; logins/s
// of 4 clients against the single-thread hash rate; pack download throughput. Hostile
// connections are spread over several loopback addresses so that per-peer caps alone do not
// decide the figure: the server must hold them all and still answer.

#include "accounts.h"
#include "benchclients.h"
#include "serviceprotocol.h"

#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#ifndef QX77_SERVER_PATH
#define QX77_SERVER_PATH "qx77-server"
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kProbeTimeout = 30; // seconds a probe waits before it counts as unanswered

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string pageRequest()
{
    return "GET /CF20/CF_Index.aspx HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

std::string loginRequest(const std::string& user, const std::string& password)
{
    return *svc::BuildRequest(svc::kLoginCode, {"0-1a-2b-3-4-ff", "127.0.0.1", user, password});
}

bool loginAccepted(const std::string& reply)
{
    const std::string text = reply.substr(0, reply.find('\0'));
    const auto fields = svc::SplitFields(text);
    return fields.size() > 3 && fields[3] == "1";
}

struct Probes
{
    std::vector<double> seconds; // of answered probes
    int failed = 0;              // unanswered within kProbeTimeout, or answered wrongly

    std::string Describe() const
    {
        if (seconds.empty())
            return "no good answer within " + std::to_string(static_cast<int>(kProbeTimeout)) + " s";
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        char text[160];
        std::snprintf(text, sizeof text, "median %.0f ms, worst %.0f ms over %zu%s",
                      sorted[sorted.size() / 2] * 1000, sorted.back() * 1000, sorted.size(),
                      failed ? " (and some failed)" : "");
        return text;
    }
    double Worst() const
    {
        return seconds.empty() || failed ? 1e9 : *std::max_element(seconds.begin(), seconds.end());
    }
};

// `count` probes one after another; after an unanswered one the rest would only wait as long.
template <typename Check> Probes probe(int port, const std::string& request, int count, Check good)
{
    Probes probes;
    for (int i = 0; i < count; ++i) {
        const Outcome out = Ask(port, "127.0.0.1", request, kProbeTimeout);
        if (!out.finished || !good(out.reply)) {
            ++probes.failed;
            break;
        }
        probes.seconds.push_back(out.seconds);
        pause(100);
    }
    return probes;
}

bool pageAnswered(const std::string& reply)
{
    return reply.starts_with("HTTP/1.1 200");
}

const char* verdict(bool met)
{
    return met ? "met" : "NOT met";
}

double measureHashRate()
{
    QTemporaryDir dir;
    Accounts accounts;
    accounts.Open(dir.filePath(QStringLiteral("hash.db")).toStdString());
    accounts.Register("bench", "bench-password");
    const int runs = 20;
    const auto start = Clock::now();
    for (int i = 0; i < runs; ++i)
        accounts.Check("bench", "bench-password");
    return runs / seconds(start);
}

// One client sends a request head that never ends: 300 MiB of header lines, as fast as the
// server takes them. Returns the MiB the server took before it closed.
double sendEndlessHead(int port)
{
    std::string chunk = "GET /CF20/CF_Index.aspx HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; chunk.size() < (1 << 20); ++i)
        chunk += "X-Filler-" + std::to_string(i) + ": " + std::string(90, 'a') + "\r\n";
    constexpr std::size_t kTotal = std::size_t(300) << 20;
    std::atomic<std::size_t> sent{0};
    std::thread sender([&] {
        boost::asio::io_context context;
        boost::asio::ip::tcp::socket socket(context);
        BindFrom(socket, "127.0.0.1");
        boost::system::error_code ec;
        socket.connect({boost::asio::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port)},
                       ec);
        const auto start = Clock::now();
        while (!ec && sent < kTotal && seconds(start) < 120) {
            const std::size_t n = socket.write_some(boost::asio::buffer(chunk), ec);
            sent += n;
        }
    });
    sender.join();
    return static_cast<double>(sent) / (1 << 20);
}

} // namespace

int main(int argc, char** argv)
{
    RaiseFileLimit();
    BenchServer server;
    if (!server.StartChosen(argc, argv))
        return 1;
    const QString& program = server.executable;
    std::ifstream loadavg("/proc/loadavg");
    std::string load;
    std::getline(loadavg, load);
    std::printf("server: %s (cores: %u, load average: %s)\n", qPrintable(program),
                std::thread::hardware_concurrency(), load.c_str());

    const std::string login = loginRequest("demo", "demo123");
    const double hashRate = measureHashRate();
    const double hashSeconds = 1.0 / hashRate;
    const Probes idlePage = probe(server.tool, pageRequest(), 5, pageAnswered);
    const Probes idleLogin = probe(server.service, login, 5, loginAccepted);
    std::printf("idle: page %s; login %s; one password hash %.0f ms\n", idlePage.Describe().c_str(),
                idleLogin.Describe().c_str(), hashSeconds * 1000);

    // Throughput: 4 clients, each a player at an address of its own.
    constexpr int kClients = 4, kPerClient = 50;
    std::atomic<int> accepted{0};
    auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < kPerClient; ++i)
                if (loginAccepted(
                        Ask(server.service, "127.0.0." + std::to_string(11 + c), login, kProbeTimeout).reply))
                    ++accepted;
        });
    for (std::thread& t : clients)
        t.join();
    const double loginsPerSecond = accepted / seconds(start);
    const double ratio = loginsPerSecond / hashRate;
    std::printf("logins: %d clients x %d = %.1f accepted/s (%d of %d); single-thread hash %.1f/s; ratio %.2f "
                "(goal >= 0.9: %s)\n",
                kClients, kPerClient, loginsPerSecond, accepted.load(), kClients * kPerClient, hashRate,
                ratio, verdict(ratio >= 0.9));

    // Pack download, of random bytes so that nothing along the way can compress it.
    constexpr int kPackMiB = 64;
    {
        std::ofstream out(server.dir.filePath(QStringLiteral("packs/bench.zip")).toStdString(),
                          std::ios::binary);
        std::mt19937_64 random(77);
        std::vector<std::uint64_t> block(1 << 17);
        for (int mib = 0; mib < kPackMiB; ++mib) {
            for (auto& word : block)
                word = random();
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size() * 8));
        }
    }
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const Outcome out = Ask(
            server.tool, "127.0.0.1",
            "GET /packs/bench.zip HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 60);
        if (out.reply.size() > (static_cast<std::size_t>(kPackMiB) << 20))
            best = std::max(best, kPackMiB / out.seconds);
    }
    const Outcome resumed = Ask(
        server.tool, "127.0.0.1",
        "GET /packs/bench.zip HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nRange: bytes="
            + std::to_string((static_cast<std::size_t>(kPackMiB) << 20) / 2) + "-\r\n\r\n",
        60);
    std::printf("pack download: %d MiB, best of 3 = %.0f MiB/s; resumed second half = %.0f MiB/s\n", kPackMiB,
                best, kPackMiB / 2.0 / resumed.seconds);

    // 500 connections that dribble a request head, one byte every 3 s, from 20 addresses.
    double pageWorst = 0;
    {
        Crowd crowd;
        crowd.Hold(server.tool, LoopbackAddresses(2, 20), 500,
                   "GET /CF20/CF_Index.aspx HTTP/1.1\r\nHost: x\r\nX-Slow: ", std::string(64, 'a'), 3000);
        for (int i = 0; i < 50 && crowd.connected < 500; ++i)
            pause(100);
        pause(1000);
        const int held = crowd.connected - crowd.ended;
        const Probes page = probe(server.tool, pageRequest(), 5, pageAnswered);
        pageWorst = page.Worst();
        std::printf("page while 500 slow-header connections are held (%d held): %s (goal < 1 s: %s)\n", held,
                    page.Describe().c_str(), verdict(pageWorst < 1));
    }

    // 1,000 connections that say nothing, from 40 addresses.
    double silentWorst = 0;
    {
        Crowd crowd;
        crowd.Hold(server.service, LoopbackAddresses(3, 40), 1000, {}, {}, 0);
        for (int i = 0; i < 50 && crowd.connected < 1000; ++i)
            pause(100);
        const int held = crowd.connected - crowd.ended;
        const Probes good = probe(server.service, login, 5, loginAccepted);
        silentWorst = good.Worst();
        std::printf("login while 1,000 silent sockets are held (%d held): %s (goal < 1 s + one hash: %s)\n",
                    held, good.Describe().c_str(), verdict(silentWorst < 1 + hashSeconds));
    }

    // 300 connections from one other address logging in with unknown names, non-stop.
    double floodWorst = 0;
    {
        Crowd crowd;
        crowd.Flood(server.service, "127.0.0.2", 300);
        pause(1000);
        const long before = crowd.answered + crowd.dropped;
        start = Clock::now();
        const Probes good = probe(server.service, login, 5, loginAccepted);
        const double window = seconds(start);
        floodWorst = good.Worst();
        std::printf(
            "login while 300 connections from 127.0.0.2 flood unknown names (%.0f attempts/s, %ld answered, "
            "%ld dropped in all): %s (goal < 1 s + one hash: %s)\n",
            (crowd.answered + crowd.dropped - before) / window, crowd.answered.load(), crowd.dropped.load(),
            good.Describe().c_str(), verdict(floodWorst < 1 + hashSeconds));
    }

    // One endless request head.
    const double rssBefore = server.MemoryMB("VmRSS");
    const double took = sendEndlessHead(server.tool);
    pause(1000);
    const double rssAfter = server.MemoryMB("VmRSS");
    std::printf("memory after one client sent header lines (it got %.1f MiB of 300 MiB out before the server "
                "closed): "
                "RSS %.0f MB (peak %.0f MB, before %.0f MB) (goal < 100 MB: %s)\n",
                took, rssAfter, server.MemoryMB("VmHWM"), rssBefore,
                verdict(rssAfter >= 0 && rssAfter < 100));
    const Probes page = probe(server.tool, pageRequest(), 1, pageAnswered);
    std::printf("page afterwards: %s\n", page.Describe().c_str());
    return 0;
}
