#include "nginxfixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace {

bool run(const QString& program, const QStringList& args, const QString& dir, QString* error)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(program, args);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0)
        return true;
    if (error)
        *error = program + u" "_qs + args.join(u' ') + u": "_qs
            + QString::fromLocal8Bit(process.readAllStandardError());
    return false;
}

bool accepts(int port)
{
    QTcpSocket socket;
    socket.connectToHost(u"127.0.0.1"_qs, static_cast<quint16>(port));
    return socket.waitForConnected(200);
}

} // namespace

NginxServer::~NginxServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
}

bool NginxServer::Start(const QString& http, const QString& main, const QList<int>& ports, QString* error)
{
    const QString dir = m_dir.path();
    QString conf =
        u"daemon off;\nworker_processes 1;\npid %1/nginx.pid;\nerror_log %1/error.log warn;\n"_qs.arg(dir);
    if (::geteuid() == 0) // the workers would otherwise switch to nobody, who cannot read the folder
        conf += u"user root;\n"_qs;
    if (main.contains(u"stream {"_qs))
        conf += u"load_module /usr/lib/nginx/modules/ngx_stream_module.so;\n"_qs;
    conf += u"events { worker_connections 8192; }\n"_qs;
    conf += u"http {\n access_log off;\n include /etc/nginx/mime.types;\n"_qs;
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += u" %1_temp_path %2/%1;\n"_qs.arg(QString::fromLatin1(temp), dir);
    conf += http + u"\n}\n"_qs + main + u"\n"_qs;
    QFile file(dir + u"/nginx.conf"_qs);
    if (!file.open(QIODevice::WriteOnly) || file.write(conf.toUtf8()) < 0) {
        *error = u"cannot write nginx.conf"_qs;
        return false;
    }
    file.close();
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(
        u"/usr/sbin/nginx"_qs,
        {u"-p"_qs, dir + u"/"_qs, u"-c"_qs, dir + u"/nginx.conf"_qs, u"-e"_qs, dir + u"/error.log"_qs});
    if (!m_process.waitForStarted(5000)) {
        *error = u"nginx did not start: "_qs + m_process.errorString();
        return false;
    }
    QDeadlineTimer deadline(10000);
    for (int port : ports) {
        while (!accepts(port)) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) {
                *error = u"nginx is not listening on %1: "_qs.arg(port) + QString::fromUtf8(ErrorLog());
                return false;
            }
            QThread::msleep(50);
        }
    }
    return true;
}

QByteArray NginxServer::ErrorLog() const
{
    QFile log(m_dir.path() + u"/error.log"_qs);
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

int FreePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress(u"127.0.0.1"_qs), 0) ? probe.serverPort() : 0;
}

bool MakeTestCertificates(const QString& dir, QString* error)
{
    QFile ext(dir + u"/cert.ext"_qs);
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n");
    ext.close();
    const QString openssl = u"openssl"_qs;
    const QStringList ec = {u"-newkey"_qs, u"ec"_qs, u"-pkeyopt"_qs, u"ec_paramgen_curve:prime256v1"_qs,
                            u"-nodes"_qs};
    return run(openssl,
               QStringList{u"req"_qs, u"-x509"_qs} + ec
                   + QStringList{u"-keyout"_qs, u"ca.key"_qs, u"-out"_qs, u"ca.pem"_qs, u"-days"_qs, u"2"_qs,
                                 u"-subj"_qs, u"/CN=QX77 test CA"_qs},
               dir, error)
        && run(openssl,
               QStringList{u"req"_qs} + ec
                   + QStringList{u"-keyout"_qs, u"key.pem"_qs, u"-out"_qs, u"cert.csr"_qs, u"-subj"_qs,
                                 u"/CN=127.0.0.1"_qs},
               dir, error)
        && run(openssl,
               {u"x509"_qs, u"-req"_qs, u"-in"_qs, u"cert.csr"_qs, u"-CA"_qs, u"ca.pem"_qs, u"-CAkey"_qs,
                u"ca.key"_qs, u"-CAcreateserial"_qs, u"-out"_qs, u"cert.pem"_qs, u"-days"_qs, u"2"_qs,
                u"-extfile"_qs, u"cert.ext"_qs},
               dir, error);
}
