#pragma once
// The update check: sends the installed version from config.ini, and when the service host
// announces a newer one, records it in update.ini and hands over to update.exe.

namespace service {

class UiRelay;

// One check on the calling thread. `manual` (the update button) also says when the program is
// up to date. A reply announcing a version needs all seven fields; a shorter one counts as
// "no newer version". When update.ini cannot take the new version's data, nothing is offered
// or started (the reason goes to the "yfzs.service" log).
void CheckUpdate(UiRelay& ui, bool manual);

} // namespace service

// The start-up check, on a worker.
void UpdateThreadProc(service::UiRelay& ui);
