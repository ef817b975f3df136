#pragma once
// Loopback clients for the server benchmarks: one timed exchange from a chosen source address,
// and a crowd of hostile connections (dribbling heads, silent sockets, login floods, readers
// that stop reading) driven by one event loop on a thread of its own. And the qx77-server
// process they are pointed at.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct Outcome
{
    bool finished = false; // the server closed after answering (or without a word)
    std::string reply;
    double seconds = 0;
};

// Connects from `from` to 127.0.0.1:port, sends `request` and reads until the server closes,
// giving up after `timeoutSeconds`.
Outcome Ask(int port, const std::string& from, const std::string& request, double timeoutSeconds);

// Opens a socket bound to `from` (any port), for clients that play other peers.
void BindFrom(boost::asio::ip::tcp::socket& socket, const std::string& from);

class Crowd
{
public:
    Crowd();
    ~Crowd();

    // `count` connections spread over `addresses` (each a source address), each sending `prefix`
    // and then one byte of `dribble` every `intervalMs` (never, when `dribble` is empty).
    void Hold(int port, const std::vector<std::string>& addresses, int count, const std::string& prefix,
              const std::string& dribble, int intervalMs);
    // `count` connections from `from`, each sending login requests for unknown names, one after
    // another, until Stop().
    void Flood(int port, const std::string& from, int count);
    void Stop();

    // Held connections: connected, and since closed (or answered) by the server.
    std::atomic<int> connected{0}, ended{0};
    // Flood: requests answered, and connections the server closed without a word.
    std::atomic<long> answered{0}, dropped{0};

private:
    friend struct HeldConnection;
    friend struct Flooder;
    boost::asio::io_context m_context;
    std::unique_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> m_work;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
};

// "127.0.<third>.1" up to "127.0.<third>.<count>".
std::vector<std::string> LoopbackAddresses(int third, int count);

// qx77-server as a process of its own on free ports, over demo data with full-size packs, so
// that its memory can be read.
struct BenchServer
{
    QTemporaryDir dir;
    QProcess process;
    int tool = 0, service = 0;
    QString executable; // the server program started

    bool Start(const QString& program);
    // Starts the server a benchmark was asked to measure: its first argument, else
    // QX77_BENCH_SERVER, else the one built with it. Says so on stderr when it does not start.
    bool StartChosen(int argc, char** argv);
    // Resident memory ("VmRSS") or its peak ("VmHWM") in MB, from the kernel's account.
    double MemoryMB(const char* field) const;
    ~BenchServer();
};

// Lets this process, and the servers it starts, hold as many descriptors as allowed.
void RaiseFileLimit();
