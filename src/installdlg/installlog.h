#pragma once
// Logging category of the resource install dialog: why a pack or a repair did not install.
// Off by default; QT_LOGGING_RULES="yfzs.install=true" shows them.

#include <QLoggingCategory>

namespace installdlg {

Q_DECLARE_LOGGING_CATEGORY(lcInstall)

} // namespace installdlg
