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

// Why an open did or did not happen, for callers that tell the user what is missing.
enum class OpenOutcome {
    Started,
    NotFound,    // empty target, or no such file or folder
    WineMissing, // a Windows program, and no `wine` on this system
    Failed,      // the program or helper would not start
};
OpenOutcome OpenTarget(const QString& target);

// True when a `wine` program is on PATH.
bool WineAvailable();

// "Wine is needed, and how to get it", for when OpenTarget answered WineMissing.
QString WineMissingMessage();

} // namespace platform
