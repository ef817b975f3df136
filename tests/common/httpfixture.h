#pragma once
// The one HTTP/1.1 server the tests start on loopback. It runs on its own thread, so a test may
// block (a blocking download, a modal dialog's worker) while it serves. Each path has a resource
// that says how it is answered, honest or not: ranges honoured or ignored, a wrong or missing
// length, a lying Content-Range, gzip, any status, chunked, slow, stalled or cut short. Every
// request is logged for the test to look at.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>

class EnvGuard;

class QTcpServer;

struct TestResource
{
    TestResource() = default;
    TestResource(const QByteArray& content, int code = 0)
        : body(content)
        , status(code)
    {
    }

    QByteArray body;
    int status = 0; // 0: 200, or 206 / 416 for a range request; else this status
    QByteArray contentType = "application/octet-stream";
    bool honourRange = true;
    bool sendLength = true;     // false and not chunked: the body ends when the connection closes
    qint64 declaredLength = -1; // Content-Length sent instead of the body's true one
    bool gzip = false;          // the body goes out gzip-compressed, with Content-Encoding: gzip
    bool chunked = false;
    qint64 cutAfter = -1;      // close the connection after this many body bytes
    qint64 stallAfter = -1;    // after this many body bytes send nothing more, keep the line open
    bool silent = false;       // read the request and never answer, not even a status line
    int pieceSize = 16 * 1024; // the body goes out in pieces of this size ...
    int pieceDelayMs = 0;      // ... this far apart
    QByteArray location;       // answer 302 with this Location
    QList<QByteArray> headers; // extra header lines as sent, e.g. a lying Content-Range
};

struct TestRequest
{
    QByteArray method;
    QByteArray target;                     // path and query as requested
    QHash<QByteArray, QByteArray> headers; // lower-case names
    QByteArray Path() const;               // the target without its query
};

class LoopbackHttpServer
{
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // Plain HTTP, or TLS with the given PEM certificate and key; on any free port, or on `port`
    // (a server the test stops and starts again where the program expects it).
    bool Start(const QString& certFile = {}, const QString& keyFile = {}, quint16 port = 0);
    quint16 Port() const;
    // "127.0.0.1:port", for links that bring their own scheme.
    QString Authority() const;
    // The server reached as `host`: "localhost" is the same server on another origin.
    QString Url(const QString& pathAndQuery, const QString& host = QStringLiteral("127.0.0.1")) const;

    void Put(const QByteArray& path, const TestResource& resource);
    void Remove(const QByteArray& path);
    // Forgets every resource and the request log.
    void Clear();

    QList<TestRequest> Requests() const;
    QList<TestRequest> RequestsFor(const QByteArray& path) const;
    // The paths asked for, in order.
    QStringList Paths() const;
    void ClearLog();
    // Body bytes written to connections that were still open: how much a stalled client was fed.
    qint64 BytesSent() const;

    struct Shared
    {
        mutable QMutex lock;
        QHash<QByteArray, TestResource> resources;
        QList<TestRequest> requests;
        qint64 bytesSent = 0;
    };

private:
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    QThread m_thread;
    QObject* m_context = nullptr; // lives on m_thread, like the server
    QTcpServer* m_server = nullptr;
    QString m_scheme;
    quint16 m_port = 0;
};

// Unsets the proxy variables of the environment until `env` goes: loopback traffic must not go
// through a proxy.
void BypassProxies(EnvGuard& env);

// Reproducible non-repeating bytes, so that a misplaced range shows in the file's hash.
QByteArray TestPattern(qsizetype size, int seed = 0);
QByteArray Sha256(const QByteArray& bytes);
