#pragma once
// The program's icon in the notification area and the window visibility it controls: a left
// click toggles the main window, a right click opens the menu (show/hide, about, exit). The
// handlers are public so they work the same whether or not the desktop has a tray to click.

#include <QObject>
#include <QSystemTrayIcon>

class QMenu;
class QWidget;

class TrayIcon : public QObject
{
    Q_OBJECT

public:
    // `window` is the main window whose visibility the icon controls.
    explicit TrayIcon(QWidget* window);
    ~TrayIcon() override;

    void Add();
    void Remove();
    bool IsAdded() const;
    QString ToolTip() const;

    // Left click: hide a shown or minimised window, show a hidden one in front.
    void ToggleVisibility();
    // The close button's "hide to tray": hides the window, or minimises it while the desktop
    // has no tray to bring it back from.
    void HideToTray();
    // The menu as it looks when opened now; the caller owns it.
    QMenu* BuildMenu();
    // Asks "你确实要退出程序吗？"; on Yes removes the icon and emits ExitConfirmed.
    void OnExit();
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

signals:
    void ExitConfirmed();
    void AboutRequested();

private:
    void PopupMenu();

    QWidget* m_window;
    QSystemTrayIcon* m_icon;
};
