#include "app/tray.h"

#include "app/startuptrace.h"
#include "widgets/messagebox.h"
#include "widgets/pngresource.h"
#include "widgets/trayavailability.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

namespace {
const QString kTip = QStringLiteral("QX77云帆助手");
const QString kShow = QStringLiteral("显示窗口");
const QString kHide = QStringLiteral("隐藏窗口");
const QString kAbout = QStringLiteral("关于");
const QString kExit = QStringLiteral("退出");
const QString kExitQuestion = QStringLiteral("你确实要退出程序吗？");
} // namespace

TrayIcon::TrayIcon(QWidget* window)
    : QObject(window)
    , m_window(window)
    , m_icon(new QSystemTrayIcon(this))
    , m_menu(std::make_unique<QMenu>())
{
    // The window's own icon where it has one: decoding it again would cost as much as the first.
    const QIcon windowIcon = window->windowIcon();
    m_icon->setIcon(windowIcon.isNull() ? widgets::LoadIconResource(160) : windowIcon);
    m_icon->setToolTip(kTip);
    connect(m_icon, &QSystemTrayIcon::activated, this, &TrayIcon::OnActivated);

    // One menu for the icon's whole life: a StatusNotifier host reads it over D-Bus whenever it
    // likes, so its first item follows the window as it changes, not only when a menu opens.
    m_toggle = m_menu->addAction(kShow);
    connect(m_toggle, &QAction::triggered, this, &TrayIcon::ToggleVisibility);
    m_menu->addSeparator();
    connect(m_menu->addAction(kAbout), &QAction::triggered, this, &TrayIcon::AboutRequested);
    connect(m_menu->addAction(kExit), &QAction::triggered, this, &TrayIcon::OnExit);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &TrayIcon::UpdateToggleText);
    m_icon->setContextMenu(m_menu.get());
    window->installEventFilter(this);
    UpdateToggleText();
}

TrayIcon::~TrayIcon()
{
    // The icon lets go of the menu before the menu goes.
    m_icon->setContextMenu(nullptr);
}

void TrayIcon::Add()
{
    m_added = true;
    // Away from X11 the only tray Qt knows is a StatusNotifier host; asking for the X11 one
    // there prints a warning at every start and shows nothing.
    if (!widgets::SystemTrayAvailable() && QGuiApplication::platformName() != QLatin1String("xcb")) {
        qCInfo(lcStartup) << "no tray on this desktop (" << QGuiApplication::platformName()
                          << "): the window stays reachable from the taskbar and a later start";
        return;
    }
    m_icon->show();
}

void TrayIcon::Remove()
{
    m_added = false;
    m_icon->hide();
}

bool TrayIcon::IsAdded() const
{
    return m_added;
}

QString TrayIcon::ToolTip() const
{
    return m_icon->toolTip();
}

bool TrayIcon::WindowShown() const
{
    return m_window->isVisible() && !m_window->isMinimized();
}

void TrayIcon::ToggleVisibility()
{
    if (WindowShown()) {
        m_window->hide();
        return;
    }
    // Hidden, or minimised to the taskbar: a click on the icon means "let me see it".
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

void TrayIcon::HideToTray()
{
    if (widgets::SystemTrayAvailable())
        m_window->hide();
    else
        m_window->showMinimized();
}

QMenu* TrayIcon::Menu()
{
    UpdateToggleText();
    return m_menu.get();
}

void TrayIcon::UpdateToggleText()
{
    // The item says what choosing it does, which is what a left click does.
    m_toggle->setText(WindowShown() ? kHide : kShow);
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::WindowStateChange:
            UpdateToggleText();
            break;
        default:
            break;
        }
    }
    return false;
}

void TrayIcon::OnExit()
{
    if (widgets::msgbox::Show(kExitQuestion, widgets::msgbox::YesNo, m_window) != widgets::msgbox::Yes)
        return;
    Remove();
    emit ExitConfirmed();
}

void TrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason)
{
    // The menu is the desktop's to open (QSystemTrayIcon::setContextMenu); opening one here as
    // well would put a second menu wherever the cursor was last seen and hold up the desktop's
    // call until it closed.
    if (reason == QSystemTrayIcon::Trigger)
        ToggleVisibility();
}
