#include "pagehost/dochostsite.h"

#include "config/trust.h"
#include "pagehost/htmlctrl.h"
#include "pagehost/newwindowgate.h"
#include "pagehost/pagebridge.h"
#include "pagehost/pagelog.h"
#include "widgets/messagebox.h"

#include <QWebEngineCertificateError>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

namespace {

const QString kBridgeScript = QStringLiteral("yfzs-external");
const QString kPolicyScript = QStringLiteral("yfzs-policy");

// Page text is not selectable, as in a dialog; form fields and editable areas still are.
// A constructed style sheet applies before the document has any element.
const QString kPolicySource = QStringLiteral(R"js((function () {
    'use strict';
    try {
        const sheet = new CSSStyleSheet();
        sheet.replaceSync('html { -webkit-user-select: none; user-select: none; }'
            + ' input, textarea, [contenteditable], [contenteditable] * { -webkit-user-select: text; user-select: text; }');
        document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
    } catch (e) {
    }
})();
)js");

bool isSuppressedMessage(const QString& msg)
{
    return msg.contains(QStringLiteral(" ActiveX "));
}

// The engine trusts the system's store. The one error the program overrides is an authority
// the engine does not know whose chain verifies once the vendor CA is trusted; any other error
// (expired, wrong name, revoked, weak, unknown to the vendor too) stands.
void answerCertificateError(QWebEngineCertificateError error)
{
    const QString host = error.url().host();
    const bool vendorIssued = error.type() == QWebEngineCertificateError::CertificateAuthorityInvalid
        && error.isOverridable() && config::trust::VerifiesWithVendorCa(error.certificateChain(), host);
    if (vendorIssued) {
        error.acceptCertificate();
        return;
    }
    qCWarning(pagehost::lcPage).noquote()
        << "certificate of" << error.url().toString() << "refused:" << error.type() << error.description();
    error.rejectCertificate();
}

} // namespace

CDocHostSite::CDocHostSite(CHtmlCtrl* view)
    : QWebEnginePage(view)
    , m_view(view)
{
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, true);

    // New windows leave the program for the user's default browser, if the gate lets them.
    m_newWindows = pagehost::NewWindowGate::For(profile());
    connect(this, &QWebEnginePage::newWindowRequested, m_newWindows, &pagehost::NewWindowGate::Handle);
    connect(this, &QWebEnginePage::certificateError, this, &answerCertificateError);

    QWebEngineScript policy;
    policy.setName(kPolicyScript);
    policy.setSourceCode(kPolicySource);
    policy.setInjectionPoint(QWebEngineScript::DocumentCreation);
    policy.setWorldId(QWebEngineScript::MainWorld);
    policy.setRunsOnSubFrames(true);
    scripts().insert(policy);

    InstallScripts();
}

void CDocHostSite::InstallScripts()
{
    const QString origin = pagehost::bridge::ToolOrigin();
    if (origin == m_bridgeOrigin)
        return;
    m_bridgeOrigin = origin;
    for (const QWebEngineScript& old : scripts().find(kBridgeScript))
        scripts().remove(old);

    QWebEngineScript bridge;
    bridge.setName(kBridgeScript);
    bridge.setSourceCode(pagehost::bridge::ScriptSource(origin));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::MainWorld);
    bridge.setRunsOnSubFrames(true);
    scripts().insert(bridge);
}

bool CDocHostSite::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    // The tool server's address may be configured anew; documents created from here on get a
    // bridge made for the current one.
    if (isMainFrame) {
        InstallScripts();
        m_newWindows->MainFrameNavigation(url);
    }
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

void CDocHostSite::javaScriptAlert(const QUrl&, const QString& msg)
{
    if (isSuppressedMessage(msg))
        return;
    widgets::msgbox::Show(msg, widgets::msgbox::OkOnly, m_view->window());
}

bool CDocHostSite::javaScriptConfirm(const QUrl&, const QString& msg)
{
    if (isSuppressedMessage(msg))
        return false;
    return widgets::msgbox::Show(msg, widgets::msgbox::OkCancel, m_view->window()) == widgets::msgbox::Ok;
}

bool CDocHostSite::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                                    const QString& defaultValue, QString* result)
{
    const QString marker = pagehost::bridge::Marker();
    if (!msg.startsWith(marker))
        return QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
    // The frame's origin as the engine knows it, not as its script claims: a frame of another
    // origin, or a page that navigated away from the tool server, gets no answer.
    if (!pagehost::bridge::IsToolOrigin(securityOrigin)) {
        qCWarning(pagehost::lcPage) << "page API call refused for origin" << securityOrigin.toString();
        return false;
    }
    *result = m_view->HandlePageCall(QStringView(msg).mid(marker.size()), defaultValue);
    return true;
}

void CDocHostSite::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                            int lineNumber, const QString& sourceID)
{
    // Script errors never interrupt the user; they are kept for whoever turns the category on.
    if (level == ErrorMessageLevel)
        qCDebug(pagehost::lcPage).noquote() << sourceID << lineNumber << message;
}
