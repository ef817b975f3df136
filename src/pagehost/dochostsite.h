#pragma once
// CDocHostSite, the page of the browser view: it answers what the browser engine asks of its
// host and so fixes how every page behaves inside the program. No scroll bars; page text is
// not selectable (form fields are); script errors show nothing and later scripts still run;
// alert and confirm are the program's message box over the main window (a message containing
// " ActiveX " is dropped); a request for a new window goes through the NewWindowGate (an
// http(s) address asked for by a tool-origin frame after a user gesture opens in the default
// browser, nothing else leaves); and window.external, the page API, exists only in frames of
// the tool server's origin, which is checked again on every call. A certificate the engine's
// store does not know is accepted only when its chain verifies against the vendor CA.

#include <QWebEnginePage>

class CHtmlCtrl;
namespace pagehost {
class NewWindowGate;
} // namespace pagehost

class CDocHostSite : public QWebEnginePage
{
    Q_OBJECT

public:
    explicit CDocHostSite(CHtmlCtrl* view);

protected:
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                  const QString& sourceID) override;
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    void InstallScripts();

    CHtmlCtrl* m_view;
    pagehost::NewWindowGate* m_newWindows;
    QString m_bridgeOrigin; // the tool origin the injected bridge script was made for
};
