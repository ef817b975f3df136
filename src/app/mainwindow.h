#pragma once
// DEZIRUdu, the program's only main window: frameless, 800 × 600, painted from skin image 176,
// with the tool page in its body, the image buttons and the account boxes above it, and the
// tray icon. It runs "modally": DoModal() shows it and runs an event loop until the window
// ends (EndDialog), which ends the program. Hiding it to the tray does not end that run.

#include "widgets/skinnedwindow.h"

#include <QString>
#include <QWidget>

#include <memory>

class CHtmlCtrl;
class LoginArea;
class PngButton;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class TrayIcon;

namespace platform {
class GlobalHotKey;
}
namespace service {
class ServiceClient;
}

class DEZIRUdu : public QWidget, public widgets::SkinnedWindow
{
    Q_OBJECT

public:
    // Control ids; other parts of the program find the controls by them (GetDlgItem, Control<T>).
    enum ControlId {
        IdBrowser = 1000,
        IdMinimise = 1001,
        IdClose = 1002,
        IdRepair = 1008,
        IdSettings = 1009,
        IdUpdate = 1010,
        IdAccount = 1011,
        IdPassword = 1012,
        IdLogin = 1013,
        IdRegister = 1014,
        IdAccountLabel = 1015,
        IdPasswordLabel = 1016,
        IdWelcome = 1017,
        IdLogout = 1018,
        IdHelp = 1033,
    };

    explicit DEZIRUdu(QWidget* parent = nullptr);
    ~DEZIRUdu() override;

    // Initialises (OnInitDialog), shows the window and runs until EndDialog.
    int DoModal();

    // The whole initialisation, in order; DoModal runs it first. The tool page's navigation
    // comes first and the last steps (URL scheme, pending link, start-up worker) follow once
    // the event loop has the page loaded; the controls exist only from here on.
    bool OnInitDialog();

    // A link handed over by a later start. Returns once the link has been handled.
    void OnCopyData(const QString& link);
    // A later start without a link: the window comes to the front from the tray, the taskbar or
    // behind other windows, with the launcher's token where that start had one.
    void BringToFront(const QString& activationToken = {});
    // A later start with a link: a shown window comes forward for the link's dialogs; one
    // hidden in the tray stays there while there is a tray.
    void RaiseForLink(const QString& activationToken = {});

    // Escape, the system close and the close button end the program here; removes the tray icon.
    void OnCancel();
    // Enter never closes the window.
    void OnOK();

    CHtmlCtrl* BrowserView() const;
    TrayIcon* Tray() const;

    // The account texts and the boxes: false copies the texts into the boxes, true the boxes
    // into the texts.
    void UpdateData(bool saveAndValidate);
    QString& AccountText();
    QString& PasswordText();
    bool AccountEntered() const;

    static QString AccountPlaceholder();
    // The grey placeholder in the account box (account-entered flag 0), boxes refreshed.
    void ShowAccountPlaceholder();

public slots:
    // Buttons whose work lives elsewhere in the program.
    void OnLogin();
    void OnLogout();
    void OnRegister();
    void OnCheckUpdate();
    void OnRepair();
    void OnSettings();
    void OnAbout();
    // Posted by the login worker after each attempt: the page reloads to show the new state.
    void OnLoginDone();

    void OnMinimise();
    void OnCloseButton();
    // The "?" button: a menu with the help page and About.
    void OnHelp();
    void OpenHelpPage();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CHtmlCtrl* CreateBrowserView();
    void CreateControls();
    void ApplyEditColours();
    void OnAccountFocusIn();
    void OnAccountFocusOut();
    void OnPasswordFocusOut();
    void OnHotKey();
    // What start-up still owes once the tool page has loaded (or a short time has passed): the
    // URL scheme, the pending link's timer and the start-up worker (login or update check).
    void FinishInit();
    void RegisterUrlProtocol();
    void StartStartupWorker();
    void OnTimer();
    bool HandleLink(const QString& link);

    CHtmlCtrl* m_browser = nullptr;
    PngButton* m_minimise = nullptr;
    PngButton* m_close = nullptr;
    PngButton* m_repair = nullptr;
    PngButton* m_settings = nullptr;
    PngButton* m_update = nullptr;
    PngButton* m_login = nullptr;
    PngButton* m_logout = nullptr;
    PngButton* m_register = nullptr;
    PngButton* m_help = nullptr;
    QLineEdit* m_accountEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLabel* m_welcome = nullptr;
    QMenu* m_helpMenu = nullptr;

    QString m_account;
    QString m_password;
    bool m_accountEntered = false;
    bool m_capsLock = false;

    TrayIcon* m_tray = nullptr;
    platform::GlobalHotKey* m_hotKey = nullptr;

    std::unique_ptr<LoginArea> m_loginArea;
    std::unique_ptr<service::ServiceClient> m_service;

    QTimer* m_linkTimer = nullptr;
    bool m_initFinished = false;
};
