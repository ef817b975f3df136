#pragma once
// Where the program's own files live. A copied or portable folder the user can write keeps
// config.ini, update.ini and Downloads/ beside the executable, as on Windows. A program run from
// a system location (under /usr or /opt, or from any folder this user cannot write, such as the
// Debian package's /usr/bin) keeps them in the per-user data folder $XDG_DATA_HOME/YFZS instead.
// Everything is computed anew on every call: a moved program finds its own files without any
// restart logic.

#include <QString>

// The data folder, ending with exactly one separator: the executable's folder for a writable
// copy, the per-user data folder for a system install. What the page API calls the program's
// path (GetAppPath) is this folder too, so the tool page's own paths keep working.
QString GetProgramDir();

namespace config {

// GetProgramDir() + "config.ini": the program's own settings file.
QString GetConfigPath();

// The folder of the running executable itself, ending with exactly one separator.
QString GetExecutableDir();

// True when the program runs from a system location and so keeps its data per user; such an
// install is updated through the package manager, never by the program itself.
bool IsSystemInstall();

// The rule behind IsSystemInstall for one executable folder (ending with a separator or not).
bool IsSystemLocation(const QString& folder);

// $XDG_DATA_HOME/YFZS/ (default ~/.local/share/YFZS/), whether or not it exists yet.
QString PerUserDataDir();

} // namespace config
