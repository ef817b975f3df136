#pragma once
// The vendor side the program talks to: tool server, service host and forum. Constants of the
// build, each overridable by an environment variable so tests and staging can point elsewhere.
// The tool server's files are static, so it may be any web server or CDN while the service
// host runs elsewhere.

#include <QString>

namespace config::addresses {

QString ToolHost();    // QX77_HOST, default 127.0.0.1: the tool server (tool page, packs, repair)
QString ServiceHost(); // QX77_SERVICE_HOST, default ToolHost(): update check and login
quint16 ToolPort();    // QX77_TOOL_PORT, default 8088
quint16 ServicePort(); // QX77_SERVICE_PORT, default 3130
QString ForumUrl();    // QX77_FORUM_URL, default http://127.0.0.1:8088, no trailing slash

QString ToolServerUrl();    // "http://host:port", the origin of the tool page
QString ToolPageUrl();      // the tool page the main window shows
QString RepairArchiveUrl(); // the repair archive on the tool server
QString HelpPageUrl();      // the forum's help thread
QString RegisterPageUrl();  // the forum's registration page

} // namespace config::addresses
