#pragma once
// The main window's service client: the handlers of the update, login, logout and register
// buttons (F11 runs OnLogin too) and the start-up worker. Workers are never waited for; they
// reach the window only through ServiceUi (see serviceui.h), and once the client is destroyed
// nothing of theirs reaches it any more.

#include <functional>
#include <memory>

namespace service {

class ServiceUi;
class UiRelay;

class ServiceClient
{
public:
    // Construct on the user-interface thread; `ui` must live as long as this client.
    explicit ServiceClient(ServiceUi& ui);
    ~ServiceClient();
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    // The last step of the main window's initialisation: log in with the remembered account
    // when it belongs to this machine, otherwise forget it and check for updates; either on a
    // worker.
    void StartStartupWorker();

    // Update button: the check runs here and blocks until it ends (bounded by the time-outs).
    void OnCheckUpdate();
    // Login button and F11: reads the boxes, refuses empty texts, logs in on a new worker.
    void OnLogin();
    // Logout button: swaps the login area back and forgets the login; the host is not told.
    void OnLogout();
    // Register button: the forum's registration page in the default browser.
    void OnRegister();

    // Workers started by this client that have not finished yet.
    int RunningWorkers() const;

private:
    void startWorker(std::function<void(UiRelay&)> procedure);

    std::shared_ptr<UiRelay> m_relay;
};

} // namespace service
