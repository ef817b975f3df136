#include "app/loginarea.h"
#include "app/mainwindow.h"

#include "platform/launcher.h"
#include "widgets/messagebox.h"

#include <QDesktopServices>
#include <QPointer>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QUrl>

LoginArea::LoginArea(DEZIRUdu& window)
    : m_window(window)
{
}

void LoginArea::ShowMessage(const QString& text)
{
    widgets::msgbox::Show(text, widgets::msgbox::OkOnly, &m_window);
}

bool LoginArea::AskOkCancel(const QString& text)
{
    return widgets::msgbox::Show(text, widgets::msgbox::OkCancel, &m_window) == widgets::msgbox::Ok;
}

void LoginArea::ReadAccountBoxes(QString& account, QString& password)
{
    m_window.UpdateData(true);
    account = m_window.AccountText();
    password = m_window.PasswordText();
}

void LoginArea::SetAccountTexts(const QString& account, const QString& password)
{
    m_window.AccountText() = account;
    m_window.PasswordText() = password;
}

void LoginArea::ShowAccountPrompt()
{
    m_window.ShowAccountPlaceholder();
}

void LoginArea::ClearAccountBoxes()
{
    for (int id : {DEZIRUdu::IdAccount, DEZIRUdu::IdPassword})
        if (auto* edit = qobject_cast<QLineEdit*>(m_window.GetDlgItem(id)))
            edit->clear();
}

void LoginArea::SetControlVisible(service::LoginControl control, bool visible)
{
    using service::LoginControl;
    int id = 0;
    switch (control) {
    case LoginControl::AccountLabel:
        id = DEZIRUdu::IdAccountLabel;
        break;
    case LoginControl::AccountBox:
        id = DEZIRUdu::IdAccount;
        break;
    case LoginControl::PasswordLabel:
        id = DEZIRUdu::IdPasswordLabel;
        break;
    case LoginControl::PasswordBox:
        id = DEZIRUdu::IdPassword;
        break;
    case LoginControl::LoginButton:
        id = DEZIRUdu::IdLogin;
        break;
    case LoginControl::RegisterButton:
        id = DEZIRUdu::IdRegister;
        break;
    case LoginControl::LogoutButton:
        id = DEZIRUdu::IdLogout;
        break;
    case LoginControl::WelcomeText:
        id = DEZIRUdu::IdWelcome;
        break;
    }
    if (QWidget* w = m_window.GetDlgItem(id))
        w->setVisible(visible);
}

void LoginArea::SetWelcomeText(const QString& text, const QRect& geometry)
{
    if (auto* label = qobject_cast<QLabel*>(m_window.GetDlgItem(DEZIRUdu::IdWelcome))) {
        label->setText(text);
        label->setGeometry(geometry);
        label->repaint();
    }
}

void LoginArea::ReloadPage()
{
    // Queued: the reload happens after the current handler has returned.
    QMetaObject::invokeMethod(&m_window, "OnLoginDone", Qt::QueuedConnection);
}

void LoginArea::LoginDone()
{
    m_window.OnLoginDone();
}

void LoginArea::StartProgram(const QString& path)
{
    QString problem;
    QPointer<QWidget> owner = &m_window;
    platform::OpenTarget(
        path, &problem,
        [owner](const QString& why) { widgets::msgbox::Show(why, widgets::msgbox::OkOnly, owner.data()); },
        [owner](const QString& question) {
            return widgets::msgbox::Show(question, widgets::msgbox::OkCancel, owner.data())
                == widgets::msgbox::Ok;
        });
    if (!problem.isEmpty())
        widgets::msgbox::Show(problem, widgets::msgbox::OkOnly, &m_window);
}

void LoginArea::OpenUrl(const QString& url)
{
    // Without a browser the button would do nothing at all; the address lets the player go on.
    if (!QDesktopServices::openUrl(QUrl(url)))
        widgets::msgbox::Show(QStringLiteral("无法打开网页浏览器。请在浏览器中打开：\n%1").arg(url),
                              widgets::msgbox::OkOnly, &m_window);
}

void LoginArea::Quit()
{
    QMetaObject::invokeMethod(
        &m_window, [this] { m_window.EndDialog(0); }, Qt::QueuedConnection);
}
