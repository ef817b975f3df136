#include "archivelog.h"

Q_LOGGING_CATEGORY(lcArchive, "yfzs.install", QtCriticalMsg)
