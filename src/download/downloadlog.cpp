#include "download/downloadlog.h"

namespace download {

Q_LOGGING_CATEGORY(lcDownload, "yfzs.download", QtCriticalMsg)

} // namespace download
