#pragma once
// NewWindowGate decides where a page's request for a new window (window.open, a link with
// target=_blank) goes. Only an http(s) address that a frame of the tool origin asked for after a
// user gesture leaves for the default browser; everything else is refused and logged.
//
// The engine's request does not say which frame asked, and what a page's script says about
// itself proves nothing, so the origin is taken from the engine: the new window is adopted by a
// hidden probe page, and the probe's first request, seen by the probe's request interceptor,
// carries the initiator's origin. That request is blocked (the engine fetches nothing for the
// new window). When no such request comes, the origin is unknown and the window is refused.

#include <QObject>
#include <QUrl>

#include <vector>

class QWebEngineNewWindowRequest;
class QWebEnginePage;
class QWebEngineProfile;

namespace pagehost {

class NewWindowProbe;

class NewWindowGate : public QObject
{
    Q_OBJECT

public:
    // The gate of `profile`, made on first use; it lives as long as the profile.
    static NewWindowGate* For(QWebEngineProfile* profile);

    void Handle(QWebEngineNewWindowRequest& request);

    // Every main-frame navigation a page of the profile accepts, so that one to the same
    // address as a probe's cannot pass for the probe's.
    void MainFrameNavigation(const QUrl& url);

    // Probes waiting for their first request (for tests that must see the gate settle).
    int PendingCount() const;

signals:
    // After each decision: the address, and whether it was handed to the default browser.
    void Decided(const QUrl& url, bool opened);

private:
    friend class NewWindowProbe;
    class Interceptor;

    explicit NewWindowGate(QWebEngineProfile* profile);

    void Armed(NewWindowProbe* probe, const QUrl& url);
    bool Intercepted(const QUrl& url, const QUrl& initiator);
    void Finish(NewWindowProbe* probe, const QUrl& url, const QString& refusal);

    QWebEngineProfile* m_profile;
    Interceptor* m_interceptor;
    std::vector<NewWindowProbe*> m_probes;
};

} // namespace pagehost
