#pragma once
// Logging category of archive extraction: failed unpacks are part of installing resources.
// Off by default; QT_LOGGING_RULES="yfzs.install=true" shows them.

#include <QLoggingCategory>

namespace archive {

Q_DECLARE_LOGGING_CATEGORY(lcArchive)

} // namespace archive
