#include "widgetslog.h"

Q_LOGGING_CATEGORY(lcWidgets, "yfzs.widgets", QtCriticalMsg)
