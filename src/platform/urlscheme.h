#pragma once
// Makes the desktop start the program for links of its own URL scheme, with the whole link as
// the first argument. Checked at every start of a first instance: when the recorded command
// differs from the running executable (the program was moved) it is written anew. A program
// installed with its own launcher entry (the Debian package's YFZS.desktop in
// /usr/share/applications, naming this executable and the scheme) has that entry made the
// default instead, and no second entry is written. Failures are silent: links then simply do
// not reach the program.

#include <QString>

namespace platform {

// `scheme` is lower case ("vederu77"); `executable` the program file to start.
void RegisterUrlScheme(const QString& scheme, const QString& executable, const QString& displayName);

// The desktop-file id of the program's launcher entry: also the application's desktop file name
// and the class of its windows (WM_CLASS, StartupWMClass).
QString DesktopFileId();

// The desktop-file name mimeapps.list makes the default for `scheme`, empty when none.
QString UrlSchemeDefaultEntry(const QString& scheme);

// The command the desktop would run now for `scheme` (the Exec line of our entry), empty when
// not registered. For checks and tests.
QString RegisteredUrlSchemeCommand(const QString& scheme);

} // namespace platform
