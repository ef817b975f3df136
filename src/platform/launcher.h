#pragma once
// Opening a file, program or web address the way the Windows shell's "open" verb does: native
// programs run directly, Windows programs (.exe, .bat, .cmd, .com) through `wine` in the same
// prefix as the registry view, and everything else - documents, folders, web addresses - through
// the desktop's opener, `xdg-open`. The started program inherits this process's working folder
// and environment and outlives it.

#include <QString>

namespace platform {

// True when the program or opener was started. False for an empty target, a file or folder that
// does not exist, or a helper (`wine`, `xdg-open`) that cannot be started. Paths may use '\' or
// '/'; a Windows drive path ("C:\Games\CF\QQLogin.exe") is looked up in the Wine prefix. Whether
// the desktop then finds an application for a document or address is its own affair: the
// opener is not waited for, since some desktops keep it running as long as the opened window.
bool OpenWithShell(const QString& target);

} // namespace platform
