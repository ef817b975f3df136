#include "widgets/trayavailability.h"

#include <QSystemTrayIcon>

namespace widgets {

namespace {
std::optional<bool> forced; // user-interface thread only
}

bool SystemTrayAvailable()
{
    return forced ? *forced : QSystemTrayIcon::isSystemTrayAvailable();
}

void SetSystemTrayAvailableForTest(std::optional<bool> available)
{
    forced = available;
}

QString NoTrayExplanation()
{
    return QStringLiteral("桌面没有系统托盘：关闭主界面时将最小化到任务栏。");
}

} // namespace widgets
