#include "inilog.h"

Q_LOGGING_CATEGORY(lcIni, "yfzs.ini", QtCriticalMsg)
