#pragma once
// Carries the service flows' calls to the main window's side onto the user-interface thread,
// in order, waiting for each, and cuts them off once the window's side is gone. Workers hold it
// through a shared pointer, so it outlives every one of them.

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QObject;

namespace service {

class ServiceUi;

class UiRelay
{
public:
    // Constructed on the user-interface thread; `ui` is only ever touched there.
    explicit UiRelay(ServiceUi* ui);
    ~UiRelay();
    UiRelay(const UiRelay&) = delete;
    UiRelay& operator=(const UiRelay&) = delete;

    // Runs `call` on the user-interface thread (at once when already there) and returns after
    // it has run. False, without running it, when the window's side is gone.
    bool Run(const std::function<void(ServiceUi&)>& call);

    // Convenience forms of the calls every flow makes.
    bool Message(const QString& text);
    // True only for OK; a window that is gone counts as Cancel.
    bool Ask(const QString& text);

    // On the user-interface thread: no call reaches the window's side from now on.
    void Detach();

    std::atomic<int> runningWorkers{0};

private:
    struct DeleteLater
    {
        void operator()(QObject* object) const;
    };
    std::unique_ptr<QObject, DeleteLater> m_context; // lives on the user-interface thread
    ServiceUi* m_ui = nullptr;
};

} // namespace service
