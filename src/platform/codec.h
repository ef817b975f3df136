#pragma once
// The "ANSI code page" of the program: GBK (code page 936). Settings files without a
// byte-order mark and the service protocol both speak it; everything in memory is UTF-16.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace platform {

// UTF-16 → GBK. A character GBK cannot hold becomes one '?'.
QByteArray ToAnsi(QStringView text);

// GBK → UTF-16. A byte sequence that is not GBK becomes U+FFFD; never fails.
QString FromAnsi(QByteArrayView bytes);

// Number of GBK bytes ToAnsi would produce.
qsizetype AnsiLength(QStringView text);

} // namespace platform
