#include "pagelog.h"

Q_LOGGING_CATEGORY(lcPage, "yfzs.page", QtCriticalMsg)
