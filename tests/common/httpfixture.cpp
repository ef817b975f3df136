#include "httpfixture.h"

#include "testenv.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <zlib.h>

namespace {

QByteArray pathOf(const QByteArray& target)
{
    const qsizetype query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 302:
        return "Found";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray gzipped(const QByteArray& data)
{
    z_stream z{};
    // 31: a gzip wrapper rather than zlib's own.
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))) + 32, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
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
        if (m_answered) {
            m_socket->readAll();
            return;
        }
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
        // A path with no resource is a plain 404 page, as a web server's own would be.
        TestResource resource{"not here", 404};
        resource.contentType = "text/plain; charset=utf-8";
        {
            QMutexLocker locker(&m_shared->lock);
            m_shared->requests.append(request);
            const auto found = m_shared->resources.constFind(request.Path());
            if (found != m_shared->resources.cend())
                resource = *found;
        }
        if (!resource.silent)
            Answer(resource, request);
    }

    void Answer(const TestResource& r, const TestRequest& request)
    {
        int status = 200;
        QByteArray head;
        QByteArray body = r.body;
        const qint64 size = r.body.size();
        if (!r.location.isEmpty()) {
            status = 302;
            head = "Location: " + r.location + "\r\n";
            body = "moved";
        } else if (r.status != 0) {
            status = r.status;
        } else if (request.headers.contains("range") && r.honourRange) {
            const QByteArray range = request.headers.value("range");
            const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
            if (from >= size) {
                status = 416;
                head = "Content-Range: bytes */" + QByteArray::number(size) + "\r\n";
                body.clear();
            } else {
                status = 206;
                head = "Content-Range: bytes " + QByteArray::number(from) + '-' + QByteArray::number(size - 1)
                    + '/' + QByteArray::number(size) + "\r\n";
                body = r.body.mid(from);
            }
        }
        head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n" + head
            + "Connection: close\r\nCache-Control: no-store\r\nContent-Type: " + r.contentType + "\r\n";
        if (r.gzip) {
            body = gzipped(body);
            head += "Content-Encoding: gzip\r\n";
        }
        for (const QByteArray& line : r.headers)
            head += line + "\r\n";
        if (r.chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (r.sendLength)
            head += "Content-Length: "
                + QByteArray::number(r.declaredLength >= 0 ? r.declaredLength : body.size()) + "\r\n";
        m_socket->write(head + "\r\n");

        m_hold = r.stallAfter >= 0;
        if (r.cutAfter >= 0)
            body.truncate(r.cutAfter);
        if (m_hold)
            body.truncate(r.stallAfter);
        m_chunked = r.chunked && r.cutAfter < 0 && !m_hold;
        m_pieceSize = qMax(1, r.pieceSize);
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
            if (!m_hold)
                m_socket->disconnectFromHost();
            return;
        }
        const QByteArray piece = m_rest.left(m_pieceSize);
        m_rest.remove(0, piece.size());
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (m_chunked)
            m_socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
        else
            m_socket->write(piece);
        QMutexLocker locker(&m_shared->lock);
        m_shared->bytesSent += piece.size();
    }

    QTcpSocket* m_socket;
    std::shared_ptr<LoopbackHttpServer::Shared> m_shared;
    QByteArray m_input;
    QByteArray m_rest;
    int m_pieceSize = 16 * 1024;
    bool m_answered = false;
    bool m_chunked = false;
    bool m_hold = false;
};

} // namespace

QByteArray TestRequest::Path() const
{
    return pathOf(target);
}

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

bool LoopbackHttpServer::Start(const QString& certFile, const QString& keyFile, quint16 port)
{
    bool ok = false;
    const bool tls = !certFile.isEmpty();
    m_scheme = tls ? QStringLiteral("https") : QStringLiteral("http");
    QMetaObject::invokeMethod(
        m_context,
        [&] {
            QTcpServer* server = nullptr;
            if (tls) {
                QFile cert(certFile);
                QFile key(keyFile);
                if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
                    return;
                auto* ssl = new QSslServer;
                QSslConfiguration config = QSslConfiguration::defaultConfiguration();
                config.setLocalCertificate(QSslCertificate(&cert, QSsl::Pem));
                // RSA or, as the certificate fixture makes them, elliptic-curve keys.
                const QByteArray pem = key.readAll();
                QSslKey privateKey(pem, QSsl::Rsa, QSsl::Pem);
                if (privateKey.isNull())
                    privateKey = QSslKey(pem, QSsl::Ec, QSsl::Pem);
                config.setPrivateKey(privateKey);
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
            ok = server->listen(QHostAddress::LocalHost, port);
            m_port = server->serverPort();
            m_server = server;
        },
        Qt::BlockingQueuedConnection);
    return ok;
}

quint16 LoopbackHttpServer::Port() const
{
    return m_port;
}

QString LoopbackHttpServer::Authority() const
{
    return QStringLiteral("127.0.0.1:") + QString::number(m_port);
}

QString LoopbackHttpServer::Url(const QString& pathAndQuery, const QString& host) const
{
    return m_scheme + QStringLiteral("://") + host + u':' + QString::number(m_port) + pathAndQuery;
}

void LoopbackHttpServer::Put(const QByteArray& path, const TestResource& resource)
{
    QMutexLocker locker(&m_shared->lock);
    m_shared->resources.insert(path, resource);
}

void LoopbackHttpServer::Remove(const QByteArray& path)
{
    QMutexLocker locker(&m_shared->lock);
    m_shared->resources.remove(path);
}

void LoopbackHttpServer::Clear()
{
    QMutexLocker locker(&m_shared->lock);
    m_shared->resources.clear();
    m_shared->requests.clear();
    m_shared->bytesSent = 0;
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
        if (r.Path() == path)
            out.append(r);
    }
    return out;
}

QStringList LoopbackHttpServer::Paths() const
{
    QStringList out;
    for (const TestRequest& r : Requests())
        out.append(QString::fromLatin1(r.Path()));
    return out;
}

void LoopbackHttpServer::ClearLog()
{
    QMutexLocker locker(&m_shared->lock);
    m_shared->requests.clear();
    m_shared->bytesSent = 0;
}

qint64 LoopbackHttpServer::BytesSent() const
{
    QMutexLocker locker(&m_shared->lock);
    return m_shared->bytesSent;
}

void BypassProxies(EnvGuard& env)
{
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
        env.Unset(name);
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

QByteArray Sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}
