#pragma once
// What the service client needs from the main window, described as operations rather than
// widgets. The main window implements ServiceUi and hands it to a ServiceClient.
//
// Threading: every call arrives on the thread that constructed the ServiceClient (the
// user-interface thread), never on a worker. Calls made on behalf of a worker are carried there
// in the order the worker makes them, and the worker waits until each call has returned, so an
// implementation simply acts (widgets::msgbox::Show for the boxes, widget changes, the platform opener).
// No call arrives after the ServiceClient has been destroyed.

#include <QRect>
#include <QString>

namespace service {

// The controls of the login area that the flows show and hide.
enum class LoginControl {
    AccountLabel,   // 1015 "账号："
    AccountBox,     // 1011, the account edit box
    PasswordLabel,  // 1016 "密码："
    PasswordBox,    // 1012, the password edit box
    LoginButton,    // 1013
    RegisterButton, // 1014
    LogoutButton,   // 1018, at the register button's place
    WelcomeText,    // 1017
};

class ServiceUi
{
public:
    virtual ~ServiceUi() = default;

    // The program's modal message box with an OK button; returns once it has been dismissed.
    virtual void ShowMessage(const QString& text) = 0;
    // The same box with OK and Cancel; true for OK (Escape and the close box mean Cancel).
    virtual bool AskOkCancel(const QString& text) = 0;

    // Copy the two edit boxes into the window's account and password texts and return them.
    virtual void ReadAccountBoxes(QString& account, QString& password) = 0;
    // Set the window's account and password texts; the edit boxes are not refreshed.
    virtual void SetAccountTexts(const QString& account, const QString& password) = 0;
    // Set the account text to the grey placeholder "请输入qx77通行证" (account-entered flag 0)
    // and refresh both edit boxes from the window's texts.
    virtual void ShowAccountPrompt() = 0;
    // Empty both edit boxes; the window's texts follow at the next ReadAccountBoxes.
    virtual void ClearAccountBoxes() = 0;

    virtual void SetControlVisible(LoginControl control, bool visible) = 0;
    // Set the welcome text's content and move it to `geometry` (client coordinates, repainted);
    // its visibility is changed separately.
    virtual void SetWelcomeText(const QString& text, const QRect& geometry) = 0;

    // Reload the tool page. The reload must take effect after the current handler has returned.
    virtual void ReloadPage() = 0;
    // A login attempt ended about a second ago (the window's login-done message): reload the
    // tool page.
    virtual void LoginDone() = 0;

    // Start a program the way the platform opener starts programs (Windows programs through
    // Wine), hidden, without parameters. A failed start is silent.
    virtual void StartProgram(const QString& path) = 0;
    // Open a web address in the desktop's default browser.
    virtual void OpenUrl(const QString& url) = 0;
    // End the program: queue the end of the main window's run and return; nothing else runs.
    virtual void Quit() = 0;
};

} // namespace service
