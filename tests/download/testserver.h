#pragma once
// A small HTTP/1.1 server on loopback for the download tests, running on its own thread so
// that tests may block (the blocking download) while it serves. Each resource decides how it
// is answered: ranges honoured or ignored, with or without a length, chunked, cut short, slow,
// or with any status and header lines the test writes itself.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <memory>

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
    bool honourRange = true;
    bool sendLength = true; // false and not chunked: the body ends when the connection closes
    bool chunked = false;
    qint64 cutAfter = -1;      // close the connection after this many body bytes
    int pieceDelayMs = 0;      // send the body in 16 KiB pieces this far apart
    QByteArray location;       // answer 302 with this Location
    QList<QByteArray> headers; // extra header lines as sent, e.g. a lying Content-Range
};

struct TestRequest
{
    QByteArray method;
    QByteArray target;                     // path and query as requested
    QHash<QByteArray, QByteArray> headers; // lower-case names
};

class LoopbackHttpServer
{
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();

    // Plain HTTP, or TLS with the given PEM certificate and key.
    bool Start(const QString& certFile = {}, const QString& keyFile = {});
    QString Url(const QString& pathAndQuery) const;

    void Put(const QByteArray& path, const TestResource& resource);
    QList<TestRequest> Requests() const;
    QList<TestRequest> RequestsFor(const QByteArray& path) const;

    struct Shared
    {
        mutable QMutex lock;
        QHash<QByteArray, TestResource> resources;
        QList<TestRequest> requests;
    };

private:
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    QThread m_thread;
    QObject* m_context = nullptr; // lives on m_thread, like the server
    QTcpServer* m_server = nullptr;
    QString m_scheme;
    quint16 m_port = 0;
};

// Reproducible non-repeating bytes, so that a misplaced range shows in the file's hash.
QByteArray TestPattern(qsizetype size, int seed = 0);
QByteArray ReadWholeFile(const QString& path);
bool WriteWholeFile(const QString& path, const QByteArray& bytes);
QByteArray Sha256(const QByteArray& bytes);
