#include "archive/archivelog.h"

namespace archive {

Q_LOGGING_CATEGORY(lcArchive, "yfzs.install", QtCriticalMsg)

} // namespace archive
