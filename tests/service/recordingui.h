#pragma once
// The main window's side of the service client as the tests see it: every call is written down
// in order as one line of text, questions are answered from a queue, and a call that arrives
// off the user-interface thread is noted.

#include "service/serviceui.h"

#include <QList>
#include <QStringList>

#include <functional>

class RecordingUi : public service::ServiceUi
{
public:
    QStringList calls;
    QList<bool> answers; // for AskOkCancel, oldest first; Cancel when empty
    QString boxAccount;  // what the edit boxes hold
    QString boxPassword;
    QString accountText; // the window's texts
    QString passwordText;
    bool calledOffThread = false;
    std::function<void(const QString&)> onMessage; // runs while the box is "open"

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
    void record(const QString& line);
};
