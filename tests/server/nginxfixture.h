#pragma once
// Debian's nginx as the tests and benchmarks run it: everything in a temporary folder, in the
// foreground, as the current user, stopped when the object goes. And the certificates a TLS
// test needs, made with the openssl program: a CA and a certificate it signed for 127.0.0.1.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class NginxServer
{
public:
    NginxServer() = default;
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Starts nginx with `http` inside its http block and `main` at the top level (a stream
    // block loads the stream module), then waits until each of `ports` on 127.0.0.1 accepts.
    bool Start(const QString& http, const QString& main, const QList<int>& ports, QString* error);
    QString Dir() const { return m_dir.path(); }
    QByteArray ErrorLog() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// A TCP port on 127.0.0.1 that nothing listens on just now.
int FreePort();

// Writes ca.pem, cert.pem and key.pem into `dir`: `cert.pem` for 127.0.0.1 and localhost,
// signed by the CA in `ca.pem`.
bool MakeTestCertificates(const QString& dir, QString* error);
