#include "downloadlog.h"

Q_LOGGING_CATEGORY(lcDownload, "yfzs.download", QtCriticalMsg)
