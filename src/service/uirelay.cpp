#include "service/uirelay.h"

#include "platform/uithread.h"
#include "service/serviceui.h"

#include <QObject>
#include <QThread>

namespace service {

void UiRelay::DeleteLater::operator()(QObject* object) const
{
    // The last holder may be a worker; the object must die on its own thread.
    if (object->thread() == QThread::currentThread())
        delete object;
    else
        object->deleteLater();
}

UiRelay::UiRelay(ServiceUi* ui)
    : m_context(new QObject)
    , m_ui(ui)
{
}

UiRelay::~UiRelay() = default;

bool UiRelay::Run(const std::function<void(ServiceUi&)>& call)
{
    bool delivered = false;
    auto here = [&] {
        if (!m_ui)
            return;
        delivered = true;
        call(*m_ui);
    };
    platform::RunOnUiThread(here, m_context.get());
    return delivered;
}

bool UiRelay::Message(const QString& text)
{
    return Run([&](ServiceUi& ui) { ui.ShowMessage(text); });
}

bool UiRelay::Ask(const QString& text)
{
    bool ok = false;
    Run([&](ServiceUi& ui) { ok = ui.AskOkCancel(text); });
    return ok;
}

void UiRelay::Detach()
{
    m_ui = nullptr;
}

} // namespace service
