#include "installlog.h"

Q_LOGGING_CATEGORY(lcInstall, "yfzs.install", QtCriticalMsg)
