#pragma once
// The service client's logging category, "yfzs.service". Off by default; switched on with
// QT_LOGGING_RULES="yfzs.service=true". Time-outs, refused connections, short replies and
// writes that did not take leave their reason here, since the user sees at most a message.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcService)
