#pragma once
// Where things live on this system: the running executable, the per-user state folder,
// and how a path from outside (tool page, link, settings file, archive) becomes a native one.

#include <QString>
#include <QStringView>

namespace platform {

// Absolute path of the running executable; empty only if the system will not say.
QString ExecutablePath();

// Both '\' and '/' separate levels; doubled separators collapse to one. Nothing else changes
// (no resolving of "..", no making absolute), so callers keep control over what they open.
QString NativePath(QStringView path);

// The separator the program writes into its own paths.
QChar Separator();

// A fixed per-user folder for the instance lock and socket. It depends on the user's home only:
// not on TMPDIR, the working directory or anything else a desktop launcher may change, and
// it is out of reach of /tmp cleaners. Created on demand with owner-only access.
QString UserStateDir();

} // namespace platform
