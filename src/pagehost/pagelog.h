#pragma once
// The page host's logging category, "yfzs.page": refused page API calls, refused new windows,
// page script errors. Off by default; QT_LOGGING_RULES="yfzs.*=true" turns it on.

#include <QLoggingCategory>

namespace pagehost {

Q_DECLARE_LOGGING_CATEGORY(lcPage)

} // namespace pagehost
