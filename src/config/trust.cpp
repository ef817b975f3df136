#include "config/trust.h"

#include "config/addresses.h"
#include "config/inilog.h"

#include <QMutex>
#include <QSslError>

#include <optional>

namespace config::trust {
namespace {

struct Trust
{
    QByteArray pem; // the vendor PEM this was made from
    QList<QSslCertificate> vendor;
    QSslConfiguration configuration;
    QByteArray bundle;
};

// Made again only when the vendor CA changes. Without one, Qt's and libcurl's own system
// stores serve unchanged; with one, the system's CAs are loaded once (milliseconds) and the
// vendor's joined to them.
Trust current()
{
    static QMutex lock;
    static std::optional<Trust> made;
    QString source;
    const QByteArray pem = config::addresses::VendorCaPem(&source);
    QMutexLocker locker(&lock);
    if (made && made->pem == pem)
        return *made;
    static const QSslConfiguration systemDefault = QSslConfiguration::defaultConfiguration();

    Trust trust;
    trust.pem = pem;
    trust.configuration = systemDefault;
    if (!pem.isEmpty()) {
        trust.vendor = QSslCertificate::fromData(pem, QSsl::Pem);
        if (trust.vendor.isEmpty())
            qCWarning(lcIni).noquote() << "no certificate in the vendor CA from" << source;
    }
    if (!trust.vendor.isEmpty()) {
        const QList<QSslCertificate> roots = QSslConfiguration::systemCaCertificates() + trust.vendor;
        for (const QSslCertificate& certificate : roots)
            trust.bundle += certificate.toPem();
        trust.configuration.setCaCertificates(roots);
    }
    QSslConfiguration::setDefaultConfiguration(trust.configuration);
    made = trust;
    return trust;
}

} // namespace

QList<QSslCertificate> VendorCertificates()
{
    return current().vendor;
}

QSslConfiguration ClientConfiguration()
{
    return current().configuration;
}

QByteArray CaBundlePem()
{
    return current().bundle;
}

bool VerifiesWithVendorCa(const QList<QSslCertificate>& chain, const QString& host)
{
    if (chain.isEmpty() || current().vendor.isEmpty())
        return false;
    // The default configuration now holds the vendor CA too.
    const QList<QSslError> errors = QSslCertificate::verify(chain, host);
    for (const QSslError& error : errors)
        qCWarning(lcIni).noquote() << "certificate for" << host << "not verified:" << error.errorString();
    return errors.isEmpty();
}

} // namespace config::trust
