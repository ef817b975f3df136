#include "app/startuptrace.h"

#include <QElapsedTimer>

Q_LOGGING_CATEGORY(lcStartup, "yfzs.startup", QtCriticalMsg)

namespace {
QElapsedTimer g_clock; // user-interface thread only
}

void StartStartupClock()
{
    g_clock.start();
}

void StartupMark(const char* step)
{
    if (!lcStartup().isInfoEnabled())
        return;
    const double ms = g_clock.isValid() ? double(g_clock.nsecsElapsed()) / 1e6 : -1.0;
    qCInfo(lcStartup, "%8.1f ms  %s", ms, step);
}
