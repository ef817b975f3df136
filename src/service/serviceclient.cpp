#include "service/serviceclient.h"

#include "config/addresses.h"
#include "config/inifile.h"
#include "config/programdir.h"
#include "config/settingskeys.h"
#include "service/base64.h"
#include "service/identity.h"
#include "service/login.h"
#include "service/serviceui.h"
#include "service/uirelay.h"
#include "service/updatecheck.h"

#include <thread>

namespace service {

ServiceClient::ServiceClient(ServiceUi& ui)
    : m_relay(std::make_shared<UiRelay>(&ui))
{
}

ServiceClient::~ServiceClient()
{
    m_relay->Detach();
}

int ServiceClient::RunningWorkers() const
{
    return m_relay->runningWorkers.load();
}

void ServiceClient::startWorker(std::function<void(UiRelay&)> procedure)
{
    auto relay = m_relay;
    ++relay->runningWorkers;
    std::thread([relay, procedure = std::move(procedure)] {
        procedure(*relay);
        --relay->runningWorkers;
    }).detach();
}

void ServiceClient::StartStartupWorker()
{
    const QString config = config::GetConfigPath();
    const QString zero = QStringLiteral("0");
    const QString uid = ReadIniString(config, config::keys::kSystem, config::keys::kUid, zero, 260);
    const QString mac = ReadIniString(config, config::keys::kSystem, config::keys::kMac, zero, 260);
    const QString uwd = ReadIniString(config, config::keys::kSystem, config::keys::kUwd, zero, 260);

    // A missing login reads as "0" everywhere and so fails on the MAC comparison.
    if (!uid.isEmpty() && mac == GetMacAddress() && !uwd.isEmpty()) {
        const QString password = Base64Decode(uwd);
        m_relay->Run([&](ServiceUi& ui) { ui.SetAccountTexts(uid, password); });
        startWorker([uid, password](UiRelay& relay) { LoginThreadProc(relay, uid, password); });
        return;
    }
    ForgetLogin(false);
    m_relay->Run([](ServiceUi& ui) { ui.ShowAccountPrompt(); });
    startWorker([](UiRelay& relay) { UpdateThreadProc(relay); });
}

void ServiceClient::OnCheckUpdate()
{
    CheckUpdate(*m_relay, true);
}

void ServiceClient::OnLogin()
{
    QString account, password;
    m_relay->Run([&](ServiceUi& ui) { ui.ReadAccountBoxes(account, password); });
    if (account.isEmpty() || password.isEmpty()) {
        m_relay->Message(QStringLiteral("用户名或密码不能为空!"));
        return;
    }
    startWorker([account, password](UiRelay& relay) { LoginThreadProc(relay, account, password); });
}

void ServiceClient::OnLogout()
{
    m_relay->Run([](ServiceUi& ui) {
        ui.SetControlVisible(LoginControl::LoginButton, true);
        ui.SetControlVisible(LoginControl::RegisterButton, true);
        ui.ReloadPage();
        ui.SetControlVisible(LoginControl::AccountLabel, true);
        ui.SetControlVisible(LoginControl::PasswordLabel, true);
        ui.ClearAccountBoxes();
        ui.SetControlVisible(LoginControl::AccountBox, true);
        ui.SetControlVisible(LoginControl::PasswordBox, true);
    });
    ForgetLogin(true);
    m_relay->Run([](ServiceUi& ui) {
        ui.SetControlVisible(LoginControl::WelcomeText, false);
        ui.SetControlVisible(LoginControl::LogoutButton, false);
    });
}

void ServiceClient::OnRegister()
{
    m_relay->Run([](ServiceUi& ui) { ui.OpenUrl(config::addresses::RegisterPageUrl()); });
}

} // namespace service
