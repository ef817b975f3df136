// File serving, in one run, over loopback: qx77-server's memory and its answers while 2,000
// readers from 100 addresses hold its largest pack and stop reading; then its throughput beside
// Debian's nginx (started here, serving the same data folder) with the same client, wrk:
//   files_bench [path/to/qx77-server]   (default: $QX77_BENCH_SERVER, else the one built here)

#include "benchclients.h"
#include "nginxfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <chrono>
#include <cstdio>
#include <thread>

#ifndef QX77_SERVER_PATH
#define QX77_SERVER_PATH "qx77-server"
#endif

namespace {

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

const char* verdict(bool met)
{
    return met ? "met" : "NOT met";
}

std::string get(const QString& path)
{
    return "GET " + path.toStdString() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

// The largest file of a folder of the data, as a URL path.
QString largest(const QString& data, const QString& folder)
{
    const auto files = QDir(data + u'/' + folder).entryInfoList(QDir::Files, QDir::Size);
    return files.isEmpty() ? QString() : u'/' + folder + u'/' + files.first().fileName();
}

// wrk's figure for one URL: requests and MiB per second.
struct Rate
{
    double requests = 0, mib = 0;
};

Rate measure(int port, const QString& path, int connections, int seconds)
{
    QProcess wrk;
    wrk.start(u"wrk"_qs,
              {u"-t2"_qs, u"-c%1"_qs.arg(connections), u"-d%1s"_qs.arg(seconds),
               u"http://127.0.0.1:%1%2"_qs.arg(port).arg(path)});
    wrk.waitForFinished(seconds * 1000 + 30000);
    const QString out = QString::fromUtf8(wrk.readAllStandardOutput());
    static const QRegularExpression requests(u"Requests/sec:\\s*([0-9.]+)"_qs);
    static const QRegularExpression transfer(u"Transfer/sec:\\s*([0-9.]+)([KMG]?B)"_qs);
    Rate rate;
    rate.requests = requests.match(out).captured(1).toDouble();
    const auto t = transfer.match(out);
    const QString unit = t.captured(2);
    rate.mib = t.captured(1).toDouble()
        * (unit == u"GB"_qs       ? 1024
               : unit == u"MB"_qs ? 1
               : unit == u"KB"_qs ? 1.0 / 1024
                                  : 1.0 / (1 << 20));
    if (rate.requests == 0)
        std::fprintf(stderr, "files_bench: wrk said: %s\n",
                     qPrintable(out + QString::fromUtf8(wrk.readAllStandardError())));
    return rate;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    RaiseFileLimit();
    BenchServer server;
    if (!server.StartChosen(argc, argv))
        return 1;
    const QString& program = server.executable;
    const QString data = server.dir.path();
    const QString pack = largest(data, u"packs"_qs), preview = largest(data, u"previews"_qs);
    const double packMB = QFileInfo(data + pack).size() / 1048576.0;
    std::printf("server: %s; largest pack %s (%.1f MiB), largest preview %s (%lld bytes)\n",
                qPrintable(program), qPrintable(pack), packMB, qPrintable(preview),
                QFileInfo(data + preview).size());

    // Readers that take their first 4 KB and then nothing, the way a stalled download does.
    {
        const double before = server.MemoryMB("VmRSS");
        Crowd crowd;
        crowd.Hold(server.tool, LoopbackAddresses(4, 100), 2000, get(pack), {}, 0);
        for (int i = 0; i < 100 && crowd.connected < 2000; ++i)
            pause(100);
        pause(2000);
        const int held = crowd.connected;
        double first = 0, worst = 0;
        for (int i = 0; i < 5; ++i) {
            const Outcome page = Ask(server.tool, "127.0.0.1", get(u"/CF20/CF_Index.aspx"_qs), 30);
            const double seconds = page.reply.starts_with("HTTP/1.1 200") ? page.seconds : 1e9;
            first = i == 0 ? seconds : first;
            worst = std::max(worst, seconds);
            pause(100);
        }
        const double under = server.MemoryMB("VmRSS"), peak = server.MemoryMB("VmHWM");
        crowd.Stop();
        pause(2000);
        const double after = server.MemoryMB("VmRSS");
        std::printf(
            "2,000 stalled readers of the largest pack from 100 addresses (%d connected): RSS %.0f MB "
            "(peak %.0f, before %.0f, after they closed %.0f) (goal < 100 MB: %s); page first %.1f ms, "
            "worst %.1f ms (goal < 100 ms: %s)\n",
            held, under, peak, before, after, verdict(peak < 100 && after < 100), first * 1000, worst * 1000,
            verdict(worst < 0.1));
    }

    // The same files from nginx, one worker as qx77-server has one loop thread.
    NginxServer nginx;
    const int nginxPort = FreePort();
    QString error;
    if (!nginx.Start(
            u"server { listen 127.0.0.1:%1; root %2; sendfile on; tcp_nopush on; }"_qs.arg(nginxPort).arg(
                data),
            {}, {nginxPort}, &error)) {
        std::fprintf(stderr, "files_bench: nginx: %s\n", qPrintable(error));
        return 1;
    }
    for (const auto& [label, path, connections] :
         {std::tuple{"previews", preview, 32}, std::tuple{"packs", pack, 8}}) {
        measure(server.tool, path, connections, 1); // warm the page cache and both servers
        measure(nginxPort, path, connections, 1);
        const Rate ours = measure(server.tool, path, connections, 5);
        const Rate theirs = measure(nginxPort, path, connections, 5);
        const double ratio = theirs.requests > 0 ? ours.requests / theirs.requests : 0;
        const double goal = std::string_view(label) == "packs" ? 0.95 : 0.8;
        std::printf(
            "%s (wrk, 2 threads, %d connections, 5 s): qx77-server %.0f req/s %.0f MiB/s, nginx %.0f req/s "
            "%.0f MiB/s: ratio %.2f (goal >= %.2f: %s)\n",
            label, connections, ours.requests, ours.mib, theirs.requests, theirs.mib, ratio, goal,
            verdict(ratio >= goal));
    }
    return 0;
}
