#include "pagehost/pagelog.h"

namespace pagehost {

Q_LOGGING_CATEGORY(lcPage, "yfzs.page", QtCriticalMsg)

} // namespace pagehost
