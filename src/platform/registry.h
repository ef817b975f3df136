#pragma once
// A read-only view of the Windows registry as the Wine prefix keeps it, for the game's install
// path and the tool page's registry reads. The prefix is $WINEPREFIX, else ~/.wine; its
// system.reg holds HKEY_LOCAL_MACHINE, user.reg HKEY_CURRENT_USER, and HKEY_CLASSES_ROOT is
// Software\Classes of the user over that of the machine. The other roots are empty here.
//
// The files are read anew on every call (Wine rewrites them while it runs), in the text format
// Wine writes: key headers "[Software\\Tencent\\CrossFire] 1700000000", values
// "name"="text", @="text" for a key's default value, str(2):"text" for an expandable string,
// dword:, hex: and hex(n): data over continued lines; "\\", "\"", "\n" and the other C escapes,
// "\x4e2d" for UTF-16 units and octal "\0" inside strings. Key paths and value names match
// without regard to letter case.

#include <QString>
#include <QStringView>

#include <optional>

namespace platform {

// Root codes as the tool page passes them (the Windows root key handle is 0x80000000 + code).
enum RegistryRoot {
    kClassesRoot = 0,
    kCurrentUser = 1,
    kLocalMachine = 2,
    kUsers = 3,
    kPerformanceData = 4,
    kCurrentConfig = 5,
    kDynData = 6,
};

// The prefix folder in use: $WINEPREFIX when set and not empty, else ~/.wine. No trailing '/'.
QString WinePrefixDir();

// A Windows drive path ("C:\Games\CF", "d:/x", "C:") as a path under the prefix's dosdevices/
// folder ("<prefix>/dosdevices/c:/Games/CF"). Levels that do not exist with that exact letter
// case are matched without regard to case, as Windows would. Anything that is not a drive path
// comes back as platform::NativePath of itself.
QString DosPathToNative(QStringView windowsPath, const QString& prefixDir = WinePrefixDir());

struct RegistryString
{
    bool keyFound = false;       // the key (or a key below it) exists
    std::optional<QString> text; // the value, when present and of a string type
};

// Looks up one value. Text types are REG_SZ and REG_EXPAND_SZ (returned unexpanded), in their
// quoted form or as hex(1)/hex(2) UTF-16 data; an empty valueName means the default value.
// An unknown root code finds nothing.
RegistryString RegistryLookup(int root, QStringView subKey, QStringView valueName,
                              const QString& prefixDir = WinePrefixDir());

// The tool page's registry read: the string value, or "" when the root code, key or value is
// unknown, the value is not text, or it holds 4096 or more UTF-16 units. A value that is a
// drive path comes back translated by DosPathToNative, so the page can hand it to other calls.
QString RegistryReadString(int root, const QString& subKey, const QString& valueName);

} // namespace platform
