// Page API: the window and application methods of the browser view.
#include "htmlctrl.h"

#include "programdir.h"

#include <QApplication>
#include <QWindow>

namespace {

// The Windows message and command numbers the page sends.
constexpr int kWmClose = 0x0010;
constexpr int kWmSysCommand = 0x0112;
constexpr int kScMove = 0xF010;
constexpr int kScMinimize = 0xF020;
constexpr int kScMaximize = 0xF030;
constexpr int kScClose = 0xF060;
constexpr int kScRestore = 0xF120;

enum ShowCommand {
    SwHide = 0,
    SwShowNormal = 1,
    SwShowMinimized = 2,
    SwShowMaximized = 3,
    SwShowNoActivate = 4,
    SwShow = 5,
    SwMinimize = 6,
    SwShowMinNoActive = 7,
    SwShowNa = 8,
    SwRestore = 9,
    SwShowDefault = 10,
    SwForceMinimize = 11,
};

// Handles are the program's own top-level window ids, cut to the 32 bits the page API carries.
int HandleOf(QWidget* window)
{
    return window ? int(quint32(window->winId())) : 0;
}

QWidget* WindowOf(int handle)
{
    if (handle == 0)
        return nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->internalWinId() != 0 && quint32(w->internalWinId()) == quint32(handle))
            return w;
    }
    return nullptr;
}

void StartMove(QWidget* window)
{
    if (window && window->windowHandle())
        window->windowHandle()->startSystemMove();
}

} // namespace

int CHtmlCtrl::GetVersion()
{
    return 1;
}

void CHtmlCtrl::MoveWindow()
{
    // The system moves the window with the mouse; on this platform the move runs on after the
    // call has returned.
    if (parentWidget())
        StartMove(window());
}

int CHtmlCtrl::GetMainWindow()
{
    return parentWidget() ? HandleOf(window()) : 0;
}

int CHtmlCtrl::GetParentWindow()
{
    return parentWidget() ? HandleOf(window()) : 0;
}

int CHtmlCtrl::SendMessage(int handle, int message, int wParam, int lParam)
{
    Q_UNUSED(lParam);
    QWidget* w = WindowOf(handle);
    if (!w)
        return 0;
    if (message == kWmClose) {
        w->close();
    } else if (message == kWmSysCommand) {
        switch (wParam & 0xFFF0) {
        case kScMove:
            StartMove(w);
            break;
        case kScMinimize:
            w->showMinimized();
            break;
        case kScMaximize:
            w->showMaximized();
            break;
        case kScRestore:
            w->showNormal();
            break;
        case kScClose:
            w->close();
            break;
        default:
            break;
        }
    }
    return 0; // what these messages answer on Windows, and what unknown ones answer here
}

void CHtmlCtrl::ShowPageWindow()
{
}

int CHtmlCtrl::ShowWindow(int handle, int command)
{
    QWidget* w = WindowOf(handle);
    if (!w)
        return 0;
    const bool wasVisible = w->isVisible();
    switch (command) {
    case SwHide:
        w->hide();
        break;
    case SwShowNormal:
    case SwShowNoActivate:
    case SwRestore:
        w->showNormal();
        break;
    case SwShowMinimized:
    case SwMinimize:
    case SwShowMinNoActive:
    case SwForceMinimize:
        w->showMinimized();
        break;
    case SwShowMaximized:
        w->showMaximized();
        break;
    case SwShow:
    case SwShowNa:
    case SwShowDefault:
        w->show();
        break;
    default:
        return 0;
    }
    return wasVisible ? 1 : 0;
}

void CHtmlCtrl::MaxOrNormalWindow()
{
    if (!parentWidget())
        return;
    QWidget* main = window();
    if (main->isMaximized())
        main->showNormal();
    else
        main->showMaximized();
}

QString CHtmlCtrl::GetAppPath()
{
    return GetProgramDir();
}
