#pragma once
// The program's icon in the notification area and the window visibility it controls: a left
// click toggles the main window, the menu (show/hide, about, exit) is handed to the desktop,
// which opens it itself: over D-Bus where a StatusNotifier host shows the icon (KDE, GNOME
// with AppIndicator), at the click on an XEmbed tray. The handlers are public so they work the
// same whether or not the desktop has a tray to click.

#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QMenu;
class QWidget;

class TrayIcon : public QObject
{
    Q_OBJECT

public:
    // `window` is the main window whose visibility the icon controls.
    explicit TrayIcon(QWidget* window);
    ~TrayIcon() override;

    // Shows the icon where the desktop can show one; elsewhere logs once why there is none.
    void Add();
    void Remove();
    bool IsAdded() const;
    QString ToolTip() const;

    // Left click: hide a shown window; show a hidden or minimised one restored, in front.
    void ToggleVisibility();
    // The close button's "hide to tray": hides the window, or minimises it while the desktop
    // has no tray to bring it back from.
    void HideToTray();
    // The menu the desktop shows, its first item's text already matching the window.
    QMenu* Menu();
    // Asks "你确实要退出程序吗？"; on Yes removes the icon and emits ExitConfirmed.
    void OnExit();
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

signals:
    void ExitConfirmed();
    void AboutRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool WindowShown() const;
    void UpdateToggleText();

    QWidget* m_window;
    QSystemTrayIcon* m_icon;
    std::unique_ptr<QMenu> m_menu; // a top-level menu: no parent owns it
    QAction* m_toggle = nullptr;
    bool m_added = false;
};
