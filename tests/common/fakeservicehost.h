#pragma once
// The one fake service host the tests start on loopback: a thread that accepts connections,
// reads each request (up to its two closing zero bytes), logs it and answers what the test's
// responder says for it: some bytes, the same bytes late, or nothing at all with the line held.

#include "testenv.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <atomic>
#include <future>
#include <functional>
#include <mutex>
#include <thread>

class FakeServiceHost
{
public:
    struct Answer
    {
        QByteArray bytes;  // sent, then the connection is closed
        bool hang = false; // keep the connection open without a word
        int delayMs = 0;   // a slow peer: wait this long before answering
    };
    using Responder = std::function<Answer(const QByteArray& request)>;

    // The same answer to every request.
    static Responder Always(const Answer& answer);
    // An answer chosen by the request's kind, its first field ("^11" for the update check);
    // `other` (say, a hang) for kinds not listed.
    static Responder ByKind(const QHash<QByteArray, Answer>& answers, const Answer& other);
    // "No newer version" to every request, so a program starts without a box.
    static Responder Quiet();
    // The kind of a request as ByKind reads it.
    static QByteArray KindOf(const QByteArray& request);

    // Answers are held back until `batch` connections have sent their requests, so a client
    // that does not keep its exchanges apart never gets an answer.
    explicit FakeServiceHost(Responder responder, int batch = 1);
    ~FakeServiceHost();

    quint16 port() const { return m_port; }
    // Sets QX77_HOST and QX77_SERVICE_PORT for this host, put back as they were when it goes.
    void pointClientHere() const;

    QList<QByteArray> requests() const;
    int connectionsClosedByPeer() const { return m_closedByPeer; }

    // A port on loopback where nothing listens.
    static quint16 closedPort();

private:
    void run(std::promise<quint16>* ready);

    Responder m_responder;
    int m_batch;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_closedByPeer{0};
    mutable std::mutex m_lock;
    QList<QByteArray> m_requests;
    std::thread m_thread;
    mutable EnvGuard m_env;
};
