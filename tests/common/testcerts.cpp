#include "testcerts.h"

#include "testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>

namespace {

bool openssl(const QString& dir, const QStringList& args)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), args);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning("openssl %s: %s", qPrintable(args.join(u' ')), process.readAll().constData());
        return false;
    }
    return true;
}

// P-256 keys: made in milliseconds, and every TLS stack here takes them.
const QStringList kNewKey{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

} // namespace

bool MakeTestCa(const QString& dir, const QString& caName)
{
    return QDir().mkpath(dir)
        && openssl(dir,
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kNewKey
                       + QStringList{
                           QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                           QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("3"),
                           QStringLiteral("-subj"), QStringLiteral("/CN=") + caName,
                           QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                           QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign")});
}

bool MakeServerCertificate(const QString& dir, const QString& name, const QString& altNames)
{
    const QString ext = name + QStringLiteral(".ext");
    return writeFile(dir + u'/' + ext,
                     "subjectAltName=" + altNames.toUtf8()
                         + "\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                           "extendedKeyUsage=serverAuth\n")
        && openssl(dir,
                   QStringList{QStringLiteral("req")} + kNewKey
                       + QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                                     QStringLiteral("-out"), name + QStringLiteral(".csr"),
                                     QStringLiteral("-subj"), QStringLiteral("/CN=") + name})
        && openssl(dir,
                   {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                    name + QStringLiteral(".csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
                    QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-set_serial"),
                    QString::number(QDateTime::currentMSecsSinceEpoch()), QStringLiteral("-days"),
                    QStringLiteral("2"), QStringLiteral("-extfile"), ext, QStringLiteral("-out"),
                    name + QStringLiteral(".pem")});
}
