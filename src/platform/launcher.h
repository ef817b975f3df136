#pragma once
// Opening a file, program or web address the way the Windows shell's "open" verb does: native
// programs run directly, Windows programs (.exe, .bat, .cmd, .com) through `wine` in the same
// prefix as the registry view, and everything else - documents, folders, web addresses - through
// the desktop's opener, `xdg-open`. A program starts in its own folder, as games expect to find
// their files beside them, inherits this process's environment and outlives it.

#include <QString>

#include <functional>

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
    NotFound,      // empty target, or no such file or folder
    WineMissing,   // a Windows program, and no `wine` on this system
    RunnerMissing, // the game manager or Wine build of the program's prefix is gone
    NoPrefix,      // outside every prefix, and the default one would have to be made first
    Declined,      // outside every prefix, and the player chose not to use the default one
    Failed,        // the program or helper would not start
};

// Called on the starting thread's event loop when a Windows program ended with an error within
// its first seconds, with what went wrong in the player's words.
using EarlyExitHandler = std::function<void(const QString& message)>;

// Asked before a Windows program outside every known prefix starts in the default one: true to
// go on. Without it such a program starts only when the default prefix exists already, since
// Wine would otherwise make a new one without a word.
using DefaultPrefixConfirm = std::function<bool(const QString& question)>;

// `problem` receives the player's message for WineMissing, RunnerMissing and NoPrefix. With a
// handler the started Windows program is watched for a few seconds (this needs the thread's
// event loop).
OpenOutcome OpenTarget(const QString& target, QString* problem = nullptr,
                       const EarlyExitHandler& onEarlyExit = {}, const DefaultPrefixConfirm& confirm = {});

// Why a Windows program that ended at once with exit `code` failed, from what it wrote to its
// error output: the cause where it is known (no 32-bit Wine), else the last lines it wrote.
QString DescribeEarlyExit(int code, const QByteArray& errorOutput);

// True when a `wine` program is on PATH.
bool WineAvailable();

// "Wine is needed, and how to get it", for when OpenTarget answered WineMissing.
QString WineMissingMessage();

} // namespace platform
