#pragma once
// Starting a program with the user's desktop session: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/<name>.desktop, else ~/.config/autostart/<name>.desktop), the
// per-user equivalent of a value under the Windows "Run" key.

#include <QString>

namespace platform {

// Where the entry for `name` lives.
QString AutostartEntryPath(const QString& name);

// Creates or replaces the entry so that the session starts `program` (an absolute path, run
// without arguments). The file is written whole or not at all. False when it cannot be written.
bool SetAutostart(const QString& name, const QString& program);

// Deletes the entry. True when no entry is left (also when there was none).
bool RemoveAutostart(const QString& name);

bool HasAutostart(const QString& name);

} // namespace platform
