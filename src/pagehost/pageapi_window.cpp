// Page API: the window and application methods of the browser view.
#include "pagehost/htmlctrl.h"

#include "config/programdir.h"

#include <QApplication>
#include <QEvent>
#include <QVariant>
#include <QWindow>

#include <utility>

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

// Handles are numbers the program gives its top-level windows, one each, never reused, from
// first use on. Not the window system's ids: on Wayland those are no numbers a page could hold
// (every window would answer the same), and the page needs nothing but to name a window back.
const char* const kHandleProperty = "yfzsPageHandle";

int handleOf(QWidget* window)
{
    if (!window)
        return 0;
    const QVariant known = window->property(kHandleProperty);
    if (known.isValid())
        return known.toInt();
    static int last = 0x10000; // user-interface thread only; clear of small numbers pages use
    window->setProperty(kHandleProperty, ++last);
    return last;
}

QWidget* windowOf(int handle)
{
    if (handle == 0)
        return nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->property(kHandleProperty).toInt() == handle)
            return w;
    }
    return nullptr;
}

// A window of fixed size (minimum = maximum) is one the window manager will not maximise. The
// keeper lifts the upper bound while the window is maximised and puts the fixed size back as
// soon as it is not, whoever restored it, so the user still cannot resize it. Controls placed
// by position keep their place; what lies beyond is the window's own painting.
class FixedSizeKeeper final : public QObject
{
public:
    static FixedSizeKeeper* Of(QWidget* window)
    {
        for (QObject* child : window->children()) {
            if (auto* keeper = dynamic_cast<FixedSizeKeeper*>(child))
                return keeper;
        }
        return new FixedSizeKeeper(window);
    }

    void Maximise()
    {
        if (m_window->minimumSize() == m_window->maximumSize() && !m_window->isMaximized()) {
            m_fixed = m_window->maximumSize();
            m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        }
        m_window->showMaximized();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::WindowStateChange && !m_window->isMaximized()
            && !m_window->isFullScreen() && m_fixed.isValid()) {
            m_window->setFixedSize(std::exchange(m_fixed, QSize()));
        }
        return false;
    }

private:
    explicit FixedSizeKeeper(QWidget* window)
        : QObject(window)
        , m_window(window)
    {
        window->installEventFilter(this);
    }

    QWidget* m_window;
    QSize m_fixed; // invalid while the window keeps its own size limits
};

void maximise(QWidget* window)
{
    FixedSizeKeeper::Of(window)->Maximise();
}

void startMove(QWidget* window)
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
        startMove(window());
}

int CHtmlCtrl::GetMainWindow()
{
    return parentWidget() ? handleOf(window()) : 0;
}

int CHtmlCtrl::GetParentWindow()
{
    return parentWidget() ? handleOf(window()) : 0;
}

int CHtmlCtrl::SendMessage(int handle, int message, int wParam, int lParam)
{
    Q_UNUSED(lParam);
    QWidget* w = windowOf(handle);
    if (!w)
        return 0;
    if (message == kWmClose) {
        w->close();
    } else if (message == kWmSysCommand) {
        switch (wParam & 0xFFF0) {
        case kScMove:
            startMove(w);
            break;
        case kScMinimize:
            w->showMinimized();
            break;
        case kScMaximize:
            maximise(w);
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
    QWidget* w = windowOf(handle);
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
        maximise(w);
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
        maximise(main);
}

QString CHtmlCtrl::GetAppPath()
{
    return GetProgramDir();
}
