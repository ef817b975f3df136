#pragma once
// The synchronous bridge between page scripts and the page API. The injected script turns a
// call of window.external.Name(args) into a prompt() whose text is the marker followed by
// [id, tagged args] in JSON; the page's prompt handler passes it here and returns the answer
// {"r": result} or {"e": error}, plus "p": progress reports that arose during the call, which
// the script delivers to the page before the call returns.

#include <QJsonArray>
#include <QString>
#include <QUrl>

#include <functional>

class CHtmlCtrl;

namespace PageBridge {

// Text that opens every bridge prompt; a page's own prompt() never starts with it.
QString Marker();

// The tool server's origin as a page's location.origin spells it ("http://127.0.0.1:8088").
QString ToolOrigin();

// Whether a frame's security origin (scheme, host, port) is the tool server's.
bool IsToolOrigin(const QUrl& origin);

// The script to inject at document creation, bound to `toolOrigin`.
QString ScriptSource(const QString& toolOrigin);

// Runs one call (the prompt text after the marker) on `api` and returns the answer text.
// `reports` are progress reports to deliver before the call returns.
QString Dispatch(CHtmlCtrl& api, QStringView request, const std::function<QJsonArray()>& takeReports);

} // namespace PageBridge
