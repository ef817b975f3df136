#pragma once
// The widgets' logging category, "yfzs.widgets": critical messages (programming faults such as
// a control looked up as the wrong type) always show, warnings only when switched on with
// QT_LOGGING_RULES="yfzs.*=true".

#include <QLoggingCategory>

namespace widgets {

Q_DECLARE_LOGGING_CATEGORY(lcWidgets)

} // namespace widgets
