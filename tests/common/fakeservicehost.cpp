#include "fakeservicehost.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>
#include <memory>
#include <vector>

FakeServiceHost::Responder FakeServiceHost::Always(const Answer& answer)
{
    return [answer](const QByteArray&) { return answer; };
}

FakeServiceHost::Responder FakeServiceHost::ByKind(const QHash<QByteArray, Answer>& answers,
                                                   const Answer& other)
{
    return [answers, other](const QByteArray& request) { return answers.value(KindOf(request), other); };
}

FakeServiceHost::Responder FakeServiceHost::Quiet()
{
    // "^11", length, a field, the flag "0", "~", and the two closing zero bytes.
    return Always({QByteArray("^11\x11"
                              "0000000024\x11-\x11"
                              "0\x11~\0\0",
                              22)});
}

QByteArray FakeServiceHost::KindOf(const QByteArray& request)
{
    return request.left(request.indexOf('\x11'));
}

FakeServiceHost::FakeServiceHost(Responder responder, int batch)
    : m_responder(std::move(responder))
    , m_batch(batch)
{
    std::promise<quint16> ready;
    auto port = ready.get_future();
    m_thread = std::thread([this, &ready] { run(&ready); });
    m_port = port.get();
}

FakeServiceHost::~FakeServiceHost()
{
    m_stop = true;
    m_thread.join();
}

void FakeServiceHost::pointClientHere() const
{
    m_env.Set("QX77_HOST", "127.0.0.1");
    m_env.Set("QX77_SERVICE_PORT", QByteArray::number(m_port));
}

QList<QByteArray> FakeServiceHost::requests() const
{
    std::lock_guard guard(m_lock);
    return m_requests;
}

quint16 FakeServiceHost::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when `probe` goes
}

void FakeServiceHost::run(std::promise<quint16>* ready)
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    ready->set_value(server.serverPort());

    struct Pending
    {
        std::unique_ptr<QTcpSocket> socket;
        QByteArray request;
    };
    std::vector<Pending> pending;
    std::vector<std::unique_ptr<QTcpSocket>> hanging;

    while (!m_stop) {
        for (auto& socket : hanging) {
            // Notice a client that gave up on us.
            if (socket && !socket->waitForReadyRead(0)
                && socket->state() == QAbstractSocket::UnconnectedState) {
                ++m_closedByPeer;
                socket.reset();
            }
        }
        // One wake-up of the listening socket accepts every connection that is waiting in
        // the kernel; all but the first then sit in the server's own queue and never wake
        // the listening socket again, so that queue is drained before waiting.
        if (!server.hasPendingConnections() && !server.waitForNewConnection(20))
            continue;
        std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
        QByteArray request;
        while (!request.endsWith(QByteArray(2, '\0')) && socket->waitForReadyRead(2000))
            request += socket->readAll();
        {
            std::lock_guard guard(m_lock);
            m_requests.append(request);
        }
        pending.push_back({std::move(socket), request});
        if (int(pending.size()) < m_batch)
            continue;
        for (Pending& entry : pending) {
            const Answer answer = m_responder(entry.request);
            if (answer.delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
            if (answer.hang) {
                hanging.push_back(std::move(entry.socket));
                continue;
            }
            entry.socket->write(answer.bytes);
            entry.socket->waitForBytesWritten(2000);
            entry.socket->disconnectFromHost();
            if (entry.socket->state() != QAbstractSocket::UnconnectedState)
                entry.socket->waitForDisconnected(2000);
        }
        pending.clear();
    }
}
