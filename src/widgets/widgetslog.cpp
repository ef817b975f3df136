#include "widgets/widgetslog.h"

namespace widgets {

Q_LOGGING_CATEGORY(lcWidgets, "yfzs.widgets", QtCriticalMsg)

} // namespace widgets
