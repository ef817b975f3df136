#pragma once
// The one way the program's workers hand work to the user-interface thread and wait for it: the
// service flows' relay and the message box both go through here.

#include <functional>

class QObject;

namespace platform {

// Runs `call` on the thread `context` lives on (null: the application's thread) and returns
// after it has run: at once when that is the calling thread or there is no application,
// otherwise queued behind that thread's pending events while the caller waits.
void RunOnUiThread(const std::function<void()>& call, QObject* context = nullptr);

} // namespace platform
