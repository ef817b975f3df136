#pragma once
// The vendor side the program talks to: tool server, service host, forum and the vendor's own CA.
// Settings of the build (the YFZS_* CMake cache settings), each overridable by an environment
// variable so tests, staging and vendors can point the program elsewhere. The tool server's
// files are static, so it may be any web server or CDN while the service host runs elsewhere.
//
// The tool server is QX77_TOOL_URL (scheme, host, port); without it the older QX77_HOST and
// QX77_TOOL_PORT name it over plain http as they always did; without either, the build's
// YFZS_TOOL_URL. A value that cannot be used is logged and the next source applies.

#include <QByteArray>
#include <QString>

namespace config::addresses {

QString ToolScheme();  // "http" or "https"
QString ToolHost();    // the tool server (tool page, packs, repair archive), default 127.0.0.1
quint16 ToolPort();    // default 8088; 80 or 443 when a tool URL names none
QString ServiceHost(); // QX77_SERVICE_HOST, else QX77_HOST, else the build's, else ToolHost()
quint16 ServicePort(); // QX77_SERVICE_PORT, default 3130
bool ServiceTls();     // QX77_SERVICE_TLS (1 = TLS), default off: the service bytes inside TLS
QString ForumUrl();    // QX77_FORUM_URL, default http://127.0.0.1:8088, no trailing slash

// The vendor CA (PEM) trusted besides the system's: the file QX77_CA_FILE names, else the one
// built in (YFZS_CA_FILE). Empty when there is none. `source` tells where it came from.
QByteArray VendorCaPem(QString* source = nullptr);

QString ToolServerUrl();    // "scheme://host:port", the origin of the tool page
QString ToolPageUrl();      // the tool page the main window shows
QString RepairArchiveUrl(); // the repair archive on the tool server
QString HelpPageUrl();      // the forum's help thread
QString RegisterPageUrl();  // the forum's registration page

// Whether the tool server is reached over plain http at a host that is not loopback: anyone on
// the network path could then rewrite the page that holds the page API. The program still
// does as configured and warns in its log once per address.
bool ToolUrlIsExposed();

} // namespace config::addresses
