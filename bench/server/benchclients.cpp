#include "benchclients.h"

#include "serviceprotocol.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/resource.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

tcp::endpoint loopback(int port)
{
    return {net::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port)};
}

} // namespace

void BindFrom(tcp::socket& socket, const std::string& from)
{
    boost::system::error_code ec;
    socket.open(tcp::v4(), ec);
    socket.bind({net::ip::make_address_v4(from), 0}, ec);
}

std::vector<std::string> LoopbackAddresses(int third, int count)
{
    std::vector<std::string> out;
    for (int i = 1; i <= count; ++i)
        out.push_back("127.0." + std::to_string(third) + "." + std::to_string(i));
    return out;
}

Outcome Ask(int port, const std::string& from, const std::string& request, double timeoutSeconds)
{
    net::io_context context;
    tcp::socket socket(context);
    BindFrom(socket, from);
    Outcome out;
    std::array<char, 64 * 1024> buffer;
    const auto start = Clock::now();
    std::function<void()> read = [&] {
        socket.async_read_some(net::buffer(buffer), [&](boost::system::error_code ec, std::size_t n) {
            out.reply.append(buffer.data(), n);
            if (!ec)
                return read();
            out.finished = true;
            out.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        });
    };
    socket.async_connect(loopback(port), [&](boost::system::error_code ec) {
        if (ec) {
            out.finished = true;
            return;
        }
        net::async_write(socket, net::buffer(request),
                         [&](boost::system::error_code, std::size_t) { read(); });
    });
    context.run_for(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(timeoutSeconds)));
    if (!out.finished)
        out.seconds = timeoutSeconds;
    return out;
}

struct HeldConnection : std::enable_shared_from_this<HeldConnection>
{
    Crowd& crowd;
    tcp::socket socket;
    net::steady_timer timer;
    std::string prefix, dribble;
    std::chrono::milliseconds interval;
    std::size_t next = 0;
    std::array<char, 4096> buffer{};

    HeldConnection(Crowd& c, std::string p, std::string d, int ms)
        : crowd(c)
        , socket(c.m_context)
        , timer(c.m_context)
        , prefix(std::move(p))
        , dribble(std::move(d))
        , interval(ms)
    {
    }

    void Start(int port, const std::string& from)
    {
        BindFrom(socket, from);
        socket.async_connect(loopback(port), [self = shared_from_this()](boost::system::error_code ec) {
            if (ec)
                return;
            ++self->crowd.connected;
            self->Read();
            if (!self->prefix.empty())
                net::async_write(self->socket, net::buffer(self->prefix),
                                 [](boost::system::error_code, std::size_t) {});
            self->Dribble();
        });
    }

    void Read()
    {
        socket.async_read_some(
            net::buffer(buffer), [self = shared_from_this()](boost::system::error_code ec, std::size_t) {
                if (ec != net::error::operation_aborted)
                    ++self->crowd.ended; // an answer or a close: either way the server let go
            });
    }

    void Dribble()
    {
        if (dribble.empty())
            return;
        timer.expires_after(interval);
        timer.async_wait([self = shared_from_this()](boost::system::error_code ec) {
            if (ec || self->crowd.m_stopping)
                return;
            net::async_write(self->socket,
                             net::buffer(&self->dribble[self->next++ % self->dribble.size()], 1),
                             [self](boost::system::error_code wec, std::size_t) {
                                 if (!wec)
                                     self->Dribble();
                             });
        });
    }
};

struct Flooder : std::enable_shared_from_this<Flooder>
{
    Crowd& crowd;
    int port;
    std::string from;
    tcp::socket socket;
    std::string request;
    std::string reply;
    std::array<char, 1024> buffer{};
    long serial = 0;
    int id;

    Flooder(Crowd& c, int p, std::string f, int i)
        : crowd(c)
        , port(p)
        , from(std::move(f))
        , socket(c.m_context)
        , id(i)
    {
    }

    void Next()
    {
        if (crowd.m_stopping)
            return;
        socket = tcp::socket(crowd.m_context);
        BindFrom(socket, from);
        request = *svc::BuildRequest(svc::kLoginCode,
                                     {"0-1a-2b-3-4-ff", "127.0.0.2",
                                      "nobody" + std::to_string(id) + "x" + std::to_string(serial++),
                                      "guess"});
        reply.clear();
        socket.async_connect(loopback(port), [self = shared_from_this()](boost::system::error_code ec) {
            if (ec)
                return self->Next();
            net::async_write(self->socket, net::buffer(self->request),
                             [self](boost::system::error_code, std::size_t) { self->Read(); });
        });
    }

    void Read()
    {
        socket.async_read_some(net::buffer(buffer),
                               [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                                   self->reply.append(self->buffer.data(), n);
                                   if (!ec)
                                       return self->Read();
                                   ++(self->reply.empty() ? self->crowd.dropped : self->crowd.answered);
                                   self->Next();
                               });
    }
};

Crowd::Crowd()
    : m_work(
        std::make_unique<net::executor_work_guard<net::io_context::executor_type>>(m_context.get_executor()))
{
    m_thread = std::thread([this] { m_context.run(); });
}

Crowd::~Crowd()
{
    Stop();
}

void Crowd::Hold(int port, const std::vector<std::string>& addresses, int count, const std::string& prefix,
                 const std::string& dribble, int intervalMs)
{
    net::post(m_context, [=, this] {
        for (int i = 0; i < count; ++i)
            std::make_shared<HeldConnection>(*this, prefix, dribble, intervalMs)
                ->Start(port, addresses[static_cast<std::size_t>(i) % addresses.size()]);
    });
}

void Crowd::Flood(int port, const std::string& from, int count)
{
    net::post(m_context, [=, this] {
        for (int i = 0; i < count; ++i)
            std::make_shared<Flooder>(*this, port, from, i)->Next();
    });
}

void Crowd::Stop()
{
    m_stopping = true;
    m_work.reset();
    m_context.stop();
    if (m_thread.joinable())
        m_thread.join();
}

bool BenchServer::StartChosen(int argc, char** argv)
{
    const char* fromEnv = std::getenv("QX77_BENCH_SERVER");
    const QString chosen = QString::fromLocal8Bit(argc > 1                  ? argv[1]
                                                      : fromEnv && *fromEnv ? fromEnv
                                                                            : QX77_SERVER_PATH);
    if (Start(chosen))
        return true;
    std::fprintf(stderr, "%s: %s did not start\n",
                 qPrintable(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName()), qPrintable(chosen));
    return false;
}

bool BenchServer::Start(const QString& program)
{
    executable = program;
    if (QProcess::execute(program, {QStringLiteral("--make-demo"), dir.path()}) != 0)
        return false;
    process.setStandardErrorFile(dir.filePath(QStringLiteral("server.log")));
    process.start(program,
                  {dir.path(), QStringLiteral("--tool-port"), QStringLiteral("0"),
                   QStringLiteral("--service-port"), QStringLiteral("0"), QStringLiteral("--quiet")});
    if (!process.waitForStarted())
        return false;
    static const QRegularExpression toolPort(QStringLiteral("http://[0-9.]+:(\\d+)/CF20"));
    static const QRegularExpression servicePort(QStringLiteral("service host [0-9.]+:(\\d+)"));
    for (int i = 0; i < 100 && (tool == 0 || service == 0); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QFile log(dir.filePath(QStringLiteral("server.log")));
        log.open(QIODevice::ReadOnly);
        const QString text = QString::fromUtf8(log.readAll());
        tool = toolPort.match(text).captured(1).toInt();
        service = servicePort.match(text).captured(1).toInt();
    }
    return tool > 0 && service > 0;
}

double BenchServer::MemoryMB(const char* field) const
{
    std::ifstream status("/proc/" + std::to_string(process.processId()) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field))
            return std::stod(line.substr(line.find_first_of("0123456789"))) / 1024.0;
    return -1;
}

BenchServer::~BenchServer()
{
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished();
}

void RaiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max; // servers started from here inherit it
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}
