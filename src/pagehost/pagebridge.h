#pragma once
// The synchronous bridge between page scripts and the page API. The injected script turns a
// call of window.external.Name(args) into a prompt() whose message is the marker followed by
// the call's length and whose default text is the call, [id, tagged args] in JSON, however
// long; the page's prompt handler passes both here and returns the answer {"r": result} or
// {"e": error}, plus "p": progress reports that arose during the call, which the script
// delivers to the page before the call returns.

#include <QJsonArray>
#include <QString>
#include <QUrl>

#include <functional>

class CHtmlCtrl;

namespace pagehost::bridge {

// Text that opens every bridge prompt's message; a page's own prompt() never starts with it.
QString Marker();

// The tool server's origin as a page's location.origin spells it ("http://127.0.0.1:8088").
QString ToolOrigin();

// Whether a frame's security origin (scheme, host, port) is the tool server's.
bool IsToolOrigin(const QUrl& origin);

// The script to inject at document creation, bound to `toolOrigin`.
QString ScriptSource(const QString& toolOrigin);

// Runs one call on `api` and returns the answer text. `length` is the message after the marker
// (the call's length as the script counted it), `request` the call. A call that did not
// arrive whole, or is not a call, is answered with an error saying so and runs nothing.
// `takeReports` gives the progress reports to deliver before the call returns.
QString Dispatch(CHtmlCtrl& api, QStringView length, QStringView request,
                 const std::function<QJsonArray()>& takeReports);

} // namespace pagehost::bridge
