#include "tray.h"

#include "messagebox.h"
#include "pngresource.h"
#include "trayavailability.h"

#include <QCursor>
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
{
    // The window's own icon where it has one: decoding it again would cost as much as the first.
    const QIcon windowIcon = window->windowIcon();
    m_icon->setIcon(windowIcon.isNull() ? widgets::LoadIconResource(160) : windowIcon);
    m_icon->setToolTip(kTip);
    connect(m_icon, &QSystemTrayIcon::activated, this, &TrayIcon::OnActivated);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::Add()
{
    m_icon->show();
}

void TrayIcon::Remove()
{
    m_icon->hide();
}

bool TrayIcon::IsAdded() const
{
    return m_icon->isVisible();
}

QString TrayIcon::ToolTip() const
{
    return m_icon->toolTip();
}

void TrayIcon::ToggleVisibility()
{
    // A minimised window is still visible: the first click hides it, the next shows it restored.
    if (m_window->isVisible()) {
        m_window->hide();
        return;
    }
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

QMenu* TrayIcon::BuildMenu()
{
    auto* menu = new QMenu;
    // The first item's text follows the window's visibility at the moment the menu opens.
    QAction* toggle = menu->addAction(m_window->isVisible() ? kHide : kShow);
    connect(toggle, &QAction::triggered, this, &TrayIcon::ToggleVisibility);
    menu->addSeparator();
    connect(menu->addAction(kAbout), &QAction::triggered, this, &TrayIcon::AboutRequested);
    connect(menu->addAction(kExit), &QAction::triggered, this, &TrayIcon::OnExit);
    return menu;
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
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        ToggleVisibility();
        break;
    case QSystemTrayIcon::Context:
        PopupMenu();
        break;
    default:
        break;
    }
}

void TrayIcon::PopupMenu()
{
    QMenu* menu = BuildMenu();
    const QPoint at = QCursor::pos();
    if (m_window->isVisible()) {
        m_window->raise();
        m_window->activateWindow();
    }
    menu->exec(at);
    delete menu;
}
