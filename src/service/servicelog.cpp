#include "service/servicelog.h"

Q_LOGGING_CATEGORY(lcService, "yfzs.service", QtCriticalMsg)
