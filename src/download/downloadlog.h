#pragma once
// The download module's logging category, "yfzs.download". Off by default; switched on with
// QT_LOGGING_RULES="yfzs.download=true". Every failure that only shows as a status code or a
// false result leaves its reason here.

#include <QLoggingCategory>

namespace download {

Q_DECLARE_LOGGING_CATEGORY(lcDownload)

} // namespace download
