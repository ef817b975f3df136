#pragma once
// The account login: the exchange with the service host, the login area's swap on success and
// the remembered login in section [system] of config.ini (UID, MAC, UWD, ISLOGIN).

#include <QString>

namespace service {

class UiRelay;

} // namespace service

// One login attempt with copies of the account and password texts.
void Login(service::UiRelay& ui, const QString& account, const QString& password);

// The login worker: the attempt, then LoginDone after the configured delay, whatever happened.
void LoginThreadProc(service::UiRelay& ui, const QString& account, const QString& password);

namespace service {

// Writes UID, MAC and UWD empty, in that order, and ISLOGIN "0" when `loggedOut`.
void ForgetLogin(bool loggedOut);

} // namespace service
