#include "installdlg/installlog.h"

namespace installdlg {

Q_LOGGING_CATEGORY(lcInstall, "yfzs.install", QtCriticalMsg)

} // namespace installdlg
