#include "pagehost/newwindowgate.h"

#include "pagehost/pagebridge.h"
#include "pagehost/pagelog.h"

#include <QDesktopServices>
#include <QTimer>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>

#include <algorithm>

namespace pagehost {

namespace {

// A new window whose first request has not come by then never will.
constexpr int kProbeTimeoutMs = 10000;

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
}

} // namespace

// Sees the requests of the probe pages only: an interceptor on the profile would take every
// request of every page, the tool page's included, through the user-interface thread.
// Claims only the first request of an armed probe.
class NewWindowGate::Interceptor final : public QWebEngineUrlRequestInterceptor
{
public:
    explicit Interceptor(NewWindowGate* gate)
        : QWebEngineUrlRequestInterceptor(gate)
        , m_gate(gate)
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (info.resourceType() != QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
            return;
        if (m_gate->Intercepted(info.requestUrl(), info.initiator()))
            info.block(true); // the default browser fetches it, if anyone does
    }

private:
    NewWindowGate* m_gate;
};

// The hidden page a new window is adopted into. It lets exactly one navigation start (the one
// the window was opened for) and reports it to the gate; everything after that is refused.
class NewWindowProbe final : public QWebEnginePage
{
public:
    NewWindowProbe(NewWindowGate* gate, QWebEngineProfile* profile, const QUrl& requested)
        : QWebEnginePage(profile, gate)
        , m_gate(gate)
        , m_requested(requested)
    {
        connect(this, &QWebEnginePage::loadFinished, this, [this] { GiveUp(); });
        QTimer::singleShot(kProbeTimeoutMs, this, [this] { GiveUp(); });
    }

    NewWindowGate* m_gate;
    QUrl m_requested;
    QUrl m_armed;             // the navigation the window started, once seen
    bool m_ambiguous = false; // another navigation to the same address started meanwhile
    bool m_done = false;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override
    {
        if (m_done || !m_armed.isEmpty() || !isMainFrame)
            return false;
        m_armed = url;
        m_gate->Armed(this, url);
        return true;
    }

private:
    void GiveUp()
    {
        if (!m_done)
            m_gate->Finish(this, m_requested,
                           QStringLiteral("the requesting frame's origin could not be established"));
    }
};

NewWindowGate* NewWindowGate::For(QWebEngineProfile* profile)
{
    if (auto* gate = profile->findChild<NewWindowGate*>(QString(), Qt::FindDirectChildrenOnly))
        return gate;
    return new NewWindowGate(profile);
}

NewWindowGate::NewWindowGate(QWebEngineProfile* profile)
    : QObject(profile)
    , m_profile(profile)
    , m_interceptor(new Interceptor(this))
{
}

int NewWindowGate::PendingCount() const
{
    return int(m_probes.size());
}

void NewWindowGate::Handle(QWebEngineNewWindowRequest& request)
{
    const QUrl url = request.requestedUrl();
    // A window not adopted is discarded by the engine before it loads anything.
    if (!request.isUserInitiated()) {
        qCWarning(lcPage) << "new window refused, no user gesture:" << url.toString();
        emit Decided(url, false);
        return;
    }
    if (!isWebAddress(url)) {
        qCWarning(lcPage) << "new window refused, not a web address:" << url.toString();
        emit Decided(url, false);
        return;
    }
    auto* probe = new NewWindowProbe(this, m_profile, url);
    m_probes.push_back(probe);
    request.openIn(probe);
    // After the adoption: the page's interceptor belongs to the engine page it now holds.
    probe->setUrlRequestInterceptor(m_interceptor);
}

void NewWindowGate::Armed(NewWindowProbe* probe, const QUrl& url)
{
    for (NewWindowProbe* other : m_probes) {
        if (other != probe && !other->m_done && other->m_armed == url) {
            other->m_ambiguous = true;
            probe->m_ambiguous = true;
        }
    }
}

void NewWindowGate::MainFrameNavigation(const QUrl& url)
{
    // Its request could be taken for a probe's: neither can then be told apart.
    for (NewWindowProbe* probe : m_probes) {
        if (!probe->m_done && probe->m_armed == url)
            probe->m_ambiguous = true;
    }
}

bool NewWindowGate::Intercepted(const QUrl& url, const QUrl& initiator)
{
    const auto it = std::find_if(m_probes.begin(), m_probes.end(), [&](NewWindowProbe* p) {
        return !p->m_done && !p->m_armed.isEmpty() && p->m_armed == url;
    });
    if (it == m_probes.end())
        return false;
    NewWindowProbe* probe = *it;
    QString refusal;
    if (probe->m_ambiguous)
        refusal = QStringLiteral("another navigation to the same address hides the requesting frame");
    else if (!isWebAddress(url))
        refusal = QStringLiteral("not a web address");
    else if (!bridge::IsToolOrigin(initiator))
        refusal = QStringLiteral("requested by a frame of origin \"%1\"").arg(initiator.toString());
    Finish(probe, url, refusal);
    return true;
}

void NewWindowGate::Finish(NewWindowProbe* probe, const QUrl& url, const QString& refusal)
{
    probe->m_done = true;
    std::erase(m_probes, probe);
    probe->deleteLater();
    if (!refusal.isEmpty())
        qCWarning(lcPage).noquote() << "new window refused," << refusal + u':' << url.toString();
    // Out of the engine's call: the opener may run a nested event loop.
    QMetaObject::invokeMethod(
        this,
        [this, url, open = refusal.isEmpty()] {
            if (open && !QDesktopServices::openUrl(url))
                qCWarning(lcPage) << "the default browser could not open" << url.toString();
            emit Decided(url, open);
        },
        Qt::QueuedConnection);
}

} // namespace pagehost
