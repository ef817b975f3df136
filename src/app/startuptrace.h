#pragma once
// Time stamps through start-up, for seeing what stands between starting the program and the
// tool page having loaded. Each mark logs the milliseconds since main() began under
// yfzs.startup (off by default: QT_LOGGING_RULES="yfzs.startup=true" shows them).

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcStartup)

// Starts the clock; main() calls it first.
void StartStartupClock();
// Logs one step with the time since StartStartupClock.
void StartupMark(const char* step);
