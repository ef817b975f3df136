#include "testserver.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr qsizetype kPiece = 16 * 1024;

QByteArray PathOf(const QByteArray& target)
{
    const qsizetype query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

class Connection : public QObject
{
public:
    Connection(QTcpSocket* socket, std::shared_ptr<LoopbackHttpServer::Shared> shared)
        : QObject(socket)
        , m_socket(socket)
        , m_shared(std::move(shared))
    {
        connect(socket, &QTcpSocket::readyRead, this, [this] { OnReadyRead(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        OnReadyRead();
    }

private:
    void OnReadyRead()
    {
        if (m_answered)
            return;
        m_input += m_socket->readAll();
        const qsizetype end = m_input.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        m_answered = true;
        TestRequest request;
        const QList<QByteArray> lines = m_input.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
        }
        TestResource resource;
        bool found = false;
        {
            QMutexLocker locker(&m_shared->lock);
            m_shared->requests.append(request);
            const QByteArray path = PathOf(request.target);
            found = m_shared->resources.contains(path);
            resource = m_shared->resources.value(path);
        }
        Answer(found ? resource : TestResource{"not here", 404}, request);
    }

    void Answer(const TestResource& r, const TestRequest& request)
    {
        QByteArray head;
        QByteArray body = r.body;
        const qint64 size = r.body.size();
        if (!r.location.isEmpty()) {
            head = "HTTP/1.1 302 Found\r\nLocation: " + r.location + "\r\n";
            body = "moved";
        } else if (r.status != 0) {
            head = "HTTP/1.1 " + QByteArray::number(r.status) + " Status\r\n";
        } else if (request.headers.contains("range") && r.honourRange) {
            const QByteArray range = request.headers.value("range");
            const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
            if (from >= size) {
                head = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */"
                    + QByteArray::number(size) + "\r\n";
                body.clear();
            } else {
                head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(from)
                    + '-' + QByteArray::number(size - 1) + '/' + QByteArray::number(size) + "\r\n";
                body = r.body.mid(from);
            }
        } else {
            head = "HTTP/1.1 200 OK\r\n";
        }
        head += "Connection: close\r\nContent-Type: application/octet-stream\r\n";
        for (const QByteArray& line : r.headers)
            head += line + "\r\n";
        if (r.chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (r.sendLength)
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        m_socket->write(head + "\r\n");

        if (r.cutAfter >= 0)
            body.truncate(r.cutAfter);
        m_chunked = r.chunked && r.cutAfter < 0;
        m_rest = body;
        if (r.pieceDelayMs > 0) {
            auto* timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this] { SendPiece(); });
            timer->start(r.pieceDelayMs);
        } else {
            while (!m_rest.isEmpty())
                SendPiece();
            SendPiece();
        }
    }

    void SendPiece()
    {
        if (m_rest.isEmpty()) {
            if (m_chunked)
                m_socket->write("0\r\n\r\n");
            m_chunked = false;
            m_socket->disconnectFromHost();
            return;
        }
        const QByteArray piece = m_rest.left(kPiece);
        m_rest.remove(0, piece.size());
        if (m_chunked)
            m_socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
        else
            m_socket->write(piece);
    }

    QTcpSocket* m_socket;
    std::shared_ptr<LoopbackHttpServer::Shared> m_shared;
    QByteArray m_input;
    QByteArray m_rest;
    bool m_answered = false;
    bool m_chunked = false;
};

} // namespace

LoopbackHttpServer::LoopbackHttpServer()
{
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            delete m_server;
            delete m_context;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool LoopbackHttpServer::Start(const QString& certFile, const QString& keyFile)
{
    bool ok = false;
    const bool tls = !certFile.isEmpty();
    m_scheme = tls ? QStringLiteral("https") : QStringLiteral("http");
    QMetaObject::invokeMethod(
        m_context,
        [&] {
            QTcpServer* server = nullptr;
            if (tls) {
                auto* ssl = new QSslServer;
                QSslConfiguration config = QSslConfiguration::defaultConfiguration();
                QFile cert(certFile);
                QFile key(keyFile);
                if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
                    return;
                config.setLocalCertificate(QSslCertificate(&cert, QSsl::Pem));
                config.setPrivateKey(QSslKey(&key, QSsl::Rsa, QSsl::Pem));
                ssl->setSslConfiguration(config);
                server = ssl;
            } else {
                server = new QTcpServer;
            }
            auto shared = m_shared;
            QObject::connect(server, &QTcpServer::pendingConnectionAvailable, server, [server, shared] {
                while (QTcpSocket* s = server->nextPendingConnection())
                    new Connection(s, shared);
            });
            ok = server->listen(QHostAddress::LocalHost, 0);
            m_port = server->serverPort();
            m_server = server;
        },
        Qt::BlockingQueuedConnection);
    return ok;
}

QString LoopbackHttpServer::Url(const QString& pathAndQuery) const
{
    return m_scheme + QStringLiteral("://127.0.0.1:") + QString::number(m_port) + pathAndQuery;
}

void LoopbackHttpServer::Put(const QByteArray& path, const TestResource& resource)
{
    QMutexLocker locker(&m_shared->lock);
    m_shared->resources.insert(path, resource);
}

QList<TestRequest> LoopbackHttpServer::Requests() const
{
    QMutexLocker locker(&m_shared->lock);
    return m_shared->requests;
}

QList<TestRequest> LoopbackHttpServer::RequestsFor(const QByteArray& path) const
{
    QList<TestRequest> out;
    for (const TestRequest& r : Requests()) {
        if (PathOf(r.target) == path)
            out.append(r);
    }
    return out;
}

QByteArray TestPattern(qsizetype size, int seed)
{
    QByteArray out(size, Qt::Uninitialized);
    quint32 x = 2463534242u + quint32(seed);
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x);
    }
    return out;
}

QByteArray ReadWholeFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray Sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}
