#include "config/inilog.h"

namespace config {

Q_LOGGING_CATEGORY(lcIni, "yfzs.ini", QtCriticalMsg)

} // namespace config
