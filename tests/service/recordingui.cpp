#include "recordingui.h"

#include <QCoreApplication>
#include <QThread>

using service::LoginControl;

namespace {

// In the order of service::LoginControl.
constexpr const char* kControlNames[] = {"AccountLabel", "AccountBox",     "PasswordLabel", "PasswordBox",
                                         "LoginButton",  "RegisterButton", "LogoutButton",  "WelcomeText"};

} // namespace

void RecordingUi::record(const QString& line)
{
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        calledOffThread = true;
    calls << line;
}

void RecordingUi::ShowMessage(const QString& text)
{
    record(QStringLiteral("message ") + text);
    if (onMessage)
        onMessage(text);
}

bool RecordingUi::AskOkCancel(const QString& text)
{
    record(QStringLiteral("ask ") + text);
    return answers.isEmpty() ? false : answers.takeFirst();
}

void RecordingUi::ReadAccountBoxes(QString& account, QString& password)
{
    record(QStringLiteral("readBoxes"));
    accountText = account = boxAccount;
    passwordText = password = boxPassword;
}

void RecordingUi::SetAccountTexts(const QString& account, const QString& password)
{
    record(QStringLiteral("texts %1/%2").arg(account, password));
    accountText = account;
    passwordText = password;
}

void RecordingUi::ShowAccountPrompt()
{
    record(QStringLiteral("prompt"));
    accountText = QStringLiteral("请输入qx77通行证");
    boxAccount = accountText;
    boxPassword = passwordText;
}

void RecordingUi::ClearAccountBoxes()
{
    record(QStringLiteral("clearBoxes"));
    boxAccount.clear();
    boxPassword.clear();
}

void RecordingUi::SetControlVisible(LoginControl control, bool visible)
{
    record((visible ? u"show "_qs : u"hide "_qs) + QLatin1String(kControlNames[static_cast<int>(control)]));
}

void RecordingUi::SetWelcomeText(const QString& text, const QRect& g)
{
    record(QStringLiteral("welcome %1 %2,%3 %4x%5")
               .arg(text)
               .arg(g.x())
               .arg(g.y())
               .arg(g.width())
               .arg(g.height()));
}

void RecordingUi::ReloadPage()
{
    record(QStringLiteral("reload"));
}

void RecordingUi::LoginDone()
{
    record(QStringLiteral("loginDone"));
}

void RecordingUi::StartProgram(const QString& path)
{
    record(QStringLiteral("start ") + path);
}

void RecordingUi::OpenUrl(const QString& url)
{
    record(QStringLiteral("open ") + url);
}

void RecordingUi::Quit()
{
    record(QStringLiteral("quit"));
}
