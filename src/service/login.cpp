#include "service/login.h"

#include "config/inifile.h"
#include "config/programdir.h"
#include "config/settingskeys.h"
#include "service/base64.h"
#include "service/connection.h"
#include "service/identity.h"
#include "service/message.h"
#include "service/servicelog.h"
#include "service/serviceui.h"
#include "service/timings.h"
#include "service/uirelay.h"

#include <thread>

namespace service {

namespace {

const QString kRefused = QStringLiteral("登陆失败，用户名或密码错误!");

// The remembered login lives in config.ini; a write the store refuses only costs the next
// automatic login, so it is logged and the flow goes on.
void writeLoginSetting(const QString& config, QLatin1String key, const QString& value)
{
    if (!WriteIniString(config, config::keys::kSystem, key, value))
        qCWarning(lcService).noquote() << key << "could not be written to" << config;
}

void showLoggedIn(ServiceUi& ui, const QString& account)
{
    ui.SetControlVisible(LoginControl::LoginButton, false);
    ui.SetControlVisible(LoginControl::RegisterButton, false);
    ui.SetControlVisible(LoginControl::AccountLabel, false);
    ui.SetControlVisible(LoginControl::PasswordLabel, false);
    ui.SetControlVisible(LoginControl::AccountBox, false);
    ui.SetControlVisible(LoginControl::PasswordBox, false);
    ui.SetWelcomeText(QStringLiteral("欢迎你：") + account, QRect(630, 64, 120, 16));
    ui.SetControlVisible(LoginControl::WelcomeText, true);
    ui.SetControlVisible(LoginControl::LogoutButton, true);
}

} // namespace

void ForgetLogin(bool loggedOut)
{
    const QString config = config::GetConfigPath();
    writeLoginSetting(config, config::keys::kUid, QString());
    writeLoginSetting(config, config::keys::kMac, QString());
    writeLoginSetting(config, config::keys::kUwd, QString());
    if (loggedOut)
        writeLoginSetting(config, config::keys::kIsLogin, QStringLiteral("0"));
}

} // namespace service

void Login(service::UiRelay& ui, const QString& account, const QString& password)
{
    service::ServiceConnection connection;
    if (!connection.ConnectServer([&](const QString& text) { ui.Message(text); }))
        return;
    const QString mac = GetMacAddress();
    const QString ip = GetLocalIp();
    const auto reply = connection.Exchange(service::BuildRequest(
        service::kLoginCode, {mac, ip, account, password}, service::LengthUnit::AnsiBytes));
    if (!reply)
        return; // the connection has logged why
    QStringList fields;
    SplitString(*reply, service::kSeparator, fields);

    if (fields.size() < 4) {
        ui.Message(service::kRefused);
        return;
    }
    if (fields.at(3) != u"1") {
        // Cleared only once the user has seen why.
        if (ui.Message(service::kRefused))
            service::ForgetLogin(true);
        return;
    }
    if (!ui.Run([&](service::ServiceUi& window) { service::showLoggedIn(window, account); }))
        return;
    const QString config = config::GetConfigPath();
    service::writeLoginSetting(config, config::keys::kUid, account);
    service::writeLoginSetting(config, config::keys::kMac, mac);
    service::writeLoginSetting(config, config::keys::kUwd, Base64Encode(password));
    service::writeLoginSetting(config, config::keys::kIsLogin, QStringLiteral("1"));
}

void LoginThreadProc(service::UiRelay& ui, const QString& account, const QString& password)
{
    Login(ui, account, password);
    std::this_thread::sleep_for(service::CurrentTimings().loginDoneDelay);
    ui.Run([](service::ServiceUi& window) { window.LoginDone(); });
}
