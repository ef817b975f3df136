#pragma once
// The main window's side of the service client: message boxes, the account boxes, the login
// area's controls, page reloads, starting the updater and ending the program. Every call
// arrives on the user-interface thread.

#include "service/serviceui.h"

class DEZIRUdu;

class LoginArea : public service::ServiceUi
{
public:
    explicit LoginArea(DEZIRUdu& window);

    void ShowMessage(const QString& text) override;
    bool AskOkCancel(const QString& text) override;
    void ReadAccountBoxes(QString& account, QString& password) override;
    void SetAccountTexts(const QString& account, const QString& password) override;
    void ShowAccountPrompt() override;
    void ClearAccountBoxes() override;
    void SetControlVisible(service::LoginControl control, bool visible) override;
    void SetWelcomeText(const QString& text, const QRect& geometry) override;
    void ReloadPage() override;
    void LoginDone() override;
    void StartProgram(const QString& path) override;
    void OpenUrl(const QString& url) override;
    void Quit() override;

private:
    DEZIRUdu& m_window;
};
