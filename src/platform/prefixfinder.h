#pragma once
// Every Wine prefix a Linux player is likely to have installed the game in, and how a Windows
// program inside one of them is started. Game managers keep a prefix per game, often with a
// Wine build of their own, so "the" prefix ($WINEPREFIX or ~/.wine) misses most installs:
//
//   Lutris   each game's YAML (~/.config/lutris/games/ or ~/.local/share/lutris/games/) names its
//            game.prefix, game.exe and wine.version runner; the game's id is in pga.db
//   Bottles  one folder per bottle (native or Flatpak data folder) with its bottle.yml
//   Proton   ~/.steam/steam/steamapps/compatdata/<appid>/pfx, its build named in config_info
//   plain    ~/Games/* holding system.reg and drive_c/, and $WINEPREFIX or ~/.wine
//
// Finding them only reads files: no manager is started, so it is cheap enough to do whenever a
// game folder has to be found or a program started.

#include <QHash>
#include <QLoggingCategory>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcPrefix) // yfzs.prefix

namespace platform {

enum class PrefixKind { Plain, Lutris, Bottles, Proton };

struct WinePrefix
{
    PrefixKind kind = PrefixKind::Plain;
    QString name;         // the game's, bottle's or folder's name; a Steam app id for Proton
    QString path;         // the prefix folder itself (holds drive_c/ and system.reg), no trailing '/'
    QString runner;       // Wine binary (plain, Lutris), runner name (Bottles), Proton folder (Proton)
    QString gameId;       // Lutris's game id, the Steam app id; empty otherwise
    QString gameExe;      // a Lutris game's own game.exe, as a native path
    bool flatpak = false; // a bottle of the Flatpak build of Bottles
    QString steamRoot;    // for Proton: the Steam client folder
};

// "Lutris", "Bottles", "Steam", "Wine": the manager's name for choosers and messages.
QString PrefixKindName(PrefixKind kind);

// Every prefix of the layouts above that exists under `home`, each prefix folder once (a game
// manager's entry wins over the same folder found as a plain prefix). `winePrefixEnv` stands for
// $WINEPREFIX. Unreadable or malformed manager files are passed over.
QList<WinePrefix> FindWinePrefixes(const QString& home, const QString& winePrefixEnv);
QList<WinePrefix> FindWinePrefixes(); // this user's home and environment

// The prefix whose drive_c (or dosdevices) a native path lies in, the deepest when nested.
std::optional<WinePrefix> PrefixContaining(const QList<WinePrefix>& prefixes, const QString& path);

struct LaunchCommand
{
    QString program;
    QStringList arguments;
    QHash<QString, QString> environment; // added to the inherited environment
    QString missing; // when not empty: the runner or manager this start needs and cannot find
};

// How `exe` (a native path inside `prefix`) is started with `arguments`: Lutris's game id only for
// that game's own game.exe without arguments, else its Wine runner with WINEPREFIX; bottles-cli
// for a bottle (through flatpak for the Flatpak build); `proton run` with Steam's compatibility
// variables for a Proton prefix; the system `wine` for a plain prefix.
LaunchCommand CommandForExe(const WinePrefix& prefix, const QString& exe, const QStringList& arguments);

// Looks a program up in $PATH (empty when absent); `path` stands for $PATH.
QString FindInPath(const QString& program, const QString& path);

} // namespace platform
