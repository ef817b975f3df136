#pragma once
// Every section and key of config.ini that the program itself reads or writes. The tool page
// may keep further keys there; the program gives them no meaning.

#include <QLatin1String>

namespace config::keys {

inline constexpr QLatin1String kConfigFile{"config.ini"};
inline constexpr QLatin1String kUpdateFile{"update.ini"};

// [system]
inline constexpr QLatin1String kSystem{"system"};
inline constexpr QLatin1String kAutostart{"autostart"};   // "1": start with the desktop session
inline constexpr QLatin1String kExit{"exit"};             // "1": the close button hides to the tray
inline constexpr QLatin1String kAutoUpdate{"autoupdate"}; // "1": update without asking
inline constexpr QLatin1String kRun{"run"};               // "1": test server selected, "0": official
inline constexpr QLatin1String kUid{"UID"};               // remembered account name
inline constexpr QLatin1String kMac{"MAC"};               // MAC text at the remembered login
inline constexpr QLatin1String kUwd{"UWD"};               // remembered password, Base64
inline constexpr QLatin1String kIsLogin{"ISLOGIN"};       // "1" logged in, "0" not; for the page

// [CF Info]
inline constexpr QLatin1String kCfInfo{"CF Info"};
inline constexpr QLatin1String kFolder{"FOLDER"};        // official-server game folder
inline constexpr QLatin1String kFolderTyf{"FOLDER_TYF"}; // test-server game folder

// [yfzsver], in config.ini (installed) and update.ini (offered)
inline constexpr QLatin1String kYfzsVer{"yfzsver"};
inline constexpr QLatin1String kVersion{"version"};
inline constexpr QLatin1String kSerTime{"sertime"};
inline constexpr QLatin1String kClientAdd{"clientadd"};

// Pack markers, cleared after a pack of kind 1, 2 or 3 was installed
inline constexpr QLatin1String kJstbSection{"jstbsetep"};
inline constexpr QLatin1String kJstb{"jstb"};
inline constexpr QLatin1String kYxbjSection{"yxbjsetep"};
inline constexpr QLatin1String kYxbj{"yxbj"};
inline constexpr QLatin1String kJsyxSection{"jsyxsetep"};
inline constexpr QLatin1String kJsyx{"jsyx"};

} // namespace config::keys
