#pragma once
// Logging category of the settings store: refused writes and files that could not be read,
// which return quietly (false or the caller's default). Off by default; QT_LOGGING_RULES=
// "yfzs.ini=true" shows them.

#include <QLoggingCategory>

namespace config {

Q_DECLARE_LOGGING_CATEGORY(lcIni)

} // namespace config
