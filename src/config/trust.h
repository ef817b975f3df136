#pragma once
// Whom the program trusts on a TLS connection to its vendor: the system's trust store and, in
// addition, the vendor CA (config::addresses::VendorCaPem), so a vendor may run its own CA.
// Every TLS user takes its trust from here: the browser engine's certificate hook, libcurl and
// the service connection.

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace config::trust {

// The vendor CA's certificates; empty when none is set or the PEM holds none (logged).
QList<QSslCertificate> VendorCertificates();

// A client configuration that verifies peers against the system's CAs plus the vendor's. Also
// made the process's default configuration, which QSslCertificate::verify consults.
QSslConfiguration ClientConfiguration();

// For libcurl: the system's CAs plus the vendor's as one PEM bundle, or empty when there is no
// vendor CA (libcurl's own system store then applies unchanged).
QByteArray CaBundlePem();

// Whether `chain` (leaf first) for `host` verifies once the vendor CA is trusted: the one
// certificate error the program overrides, an authority the engine's own store does not know.
bool VerifiesWithVendorCa(const QList<QSslCertificate>& chain, const QString& host);

} // namespace config::trust
