#pragma once
// Certificates the TLS tests make with the openssl tool: a CA and server certificates it signs.

#include <QString>
#include <QStringList>

// A CA named `caName` (ca.pem, ca.key) in `dir`, made once per folder.
bool MakeTestCa(const QString& dir, const QString& caName);
// A server certificate for `altNames` ("IP:127.0.0.1,DNS:localhost") signed by the CA in `dir`,
// as `dir`/`name`.pem and `dir`/`name`.key.
bool MakeServerCertificate(const QString& dir, const QString& name, const QString& altNames);
