#include "servicehost.h"

#include "accounts.h"
#include "serviceprotocol.h"
#include "versioncatalogue.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kMaxPending = 1024;
constexpr std::size_t kMaxDrainBytes = 1 << 20;
constexpr std::size_t kMaxEchoedMac = 64;

void SetTimeouts(int fd, int ms)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Field 2 of a reply repeats the client's MAC text, unless it is too long to be one.
std::string EchoedMac(std::string_view mac)
{
    return mac.size() <= kMaxEchoedMac ? std::string(mac) : std::string();
}

} // namespace

ServiceHost::ServiceHost(Accounts& accounts, Config config, Log log)
    : accounts_(accounts), config_(std::move(config)), log_(std::move(log))
{
}

ServiceHost::~ServiceHost()
{
    Stop();
}

bool ServiceHost::Start(std::string* error)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(config_.port));
    if (inet_pton(AF_INET, config_.host.c_str(), &addr.sin_addr) != 1) {
        if (error)
            *error = "not an IPv4 address: " + config_.host;
        return false;
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd_, 256) != 0) {
        if (error)
            *error = "service port " + config_.host + ":" + std::to_string(config_.port) + ": " + std::strerror(errno);
        close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    stopping_ = false;
    for (int i = 0; i < std::max(1, config_.workers); ++i)
        workers_.emplace_back([this] { WorkerLoop(); });
    acceptor_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void ServiceHost::Stop()
{
    if (listenFd_ < 0)
        return;
    stopping_ = true;
    shutdown(listenFd_, SHUT_RDWR); // wakes accept()
    acceptor_.join();
    close(listenFd_);
    listenFd_ = -1;
    {
        std::lock_guard lock(queueMutex_);
        for (int fd : active_)
            shutdown(fd, SHUT_RDWR); // a silent client must not hold up the stop
    }
    queueReady_.notify_all();
    for (std::thread& t : workers_)
        t.join();
    workers_.clear();
    for (auto& [fd, peer] : queue_)
        close(fd);
    queue_.clear();
}

void ServiceHost::AcceptLoop()
{
    while (!stopping_) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
                if (errno == EMFILE || errno == ENFILE)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            break; // the listening socket was shut down
        }
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        std::unique_lock lock(queueMutex_);
        if (queue_.size() >= kMaxPending) {
            lock.unlock();
            close(fd); // overloaded: better a refused client than an unbounded queue
            continue;
        }
        queue_.emplace_back(fd, text);
        lock.unlock();
        queueReady_.notify_one();
    }
}

void ServiceHost::WorkerLoop()
{
    for (;;) {
        std::unique_lock lock(queueMutex_);
        queueReady_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            return; // Stop() closes what is still queued
        auto [fd, peer] = std::move(queue_.front());
        queue_.pop_front();
        active_.insert(fd);
        lock.unlock();
        Serve(fd, peer);
        lock.lock();
        active_.erase(fd);
        close(fd);
    }
}

void ServiceHost::Serve(int fd, const std::string& peer)
{
    SetTimeouts(fd, config_.receiveTimeoutMs);
    std::string request;
    bool oversized = false;
    char chunk[1024];
    for (;;) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break; // closed, timed out or failed: answer what arrived
        request.append(chunk, static_cast<std::size_t>(n));
        if (const std::size_t zero = request.find('\0'); zero != std::string::npos) {
            request.resize(zero);
            break;
        }
        if (request.size() > svc::kMaxRequestBytes) {
            oversized = true;
            break;
        }
    }
    std::string reply;
    if (oversized) {
        log_("service " + peer + " refused: oversized request");
        reply = Refusal("00", {});
    } else {
        reply = Answer(request, peer);
    }
    send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);

    // Read what the client still sends before closing: closing with unread data would reset
    // the connection and could destroy the reply before the client has read it.
    shutdown(fd, SHUT_WR);
    SetTimeouts(fd, 1000);
    std::size_t drained = 0;
    while (drained < kMaxDrainBytes) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        drained += static_cast<std::size_t>(n);
    }
}

std::string ServiceHost::Refusal(std::string_view code, std::string_view mac)
{
    const std::string replyCode = code.size() == 2 ? std::string(code) : std::string("00");
    if (auto reply = svc::BuildReply(replyCode, {EchoedMac(mac), "0"}))
        return *reply;
    return *svc::BuildReply("00", {"", "0"});
}

std::string ServiceHost::Answer(std::string_view requestText, const std::string& peer)
{
    const svc::ParseResult parsed = svc::ParseRequest(requestText);
    if (!parsed.request) {
        log_("service " + peer + " refused: " + parsed.error);
        return Refusal(parsed.code, parsed.mac);
    }
    const svc::Request& r = *parsed.request;
    const std::string& mac = r.fields[0];

    if (r.code == svc::kLoginCode) {
        const std::string& user = r.fields[2];
        const bool ok = accounts_.Check(user, r.fields[3]);
        log_("service " + peer + " login \"" + user + "\" " + (ok ? "accepted" : "refused"));
        if (ok)
            if (auto reply = svc::BuildReply(r.code, {EchoedMac(mac), "1"}))
                return *reply;
        return Refusal(r.code, mac);
    }

    const std::string& sertime = r.fields[2];
    const std::string& version = r.fields[3];
    std::string error;
    const auto release = LoadRelease(config_.versionsFile, &error);
    if (!release) {
        log_("service " + peer + " update check: " + error);
        return Refusal(r.code, mac);
    }
    if (!IsOlder(version, sertime, *release)) {
        log_("service " + peer + " update check \"" + version + "\" is current");
        return Refusal(r.code, mac);
    }
    auto reply = svc::BuildReply(r.code, {EchoedMac(mac), "1", release->sertime, release->version, release->clientadd});
    if (!reply) {
        log_("service " + peer + " update check: the release does not fit a reply");
        return Refusal(r.code, mac);
    }
    log_("service " + peer + " update check \"" + version + "\" -> " + release->version);
    return *reply;
}
