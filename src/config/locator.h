#pragma once
// Where the game is installed. Two installations are remembered in config.ini, [CF Info]:
// FOLDER for the official server and FOLDER_TYF for the test server; a folder counts as a game
// folder when QQLogin.exe lies directly in it. This part holds the rules without any window:
// the browse variants' texts, checking and storing a chosen folder, and resolving the official
// folder for an install or repair. The folder browser itself is the widgets' BrowseGameFolder.

#include "config/programdir.h"

#include <QString>

#include <functional>

namespace config {

// Who asks for a folder; it decides the key, the texts and what the caller does afterwards.
enum class GameFolderVariant {
    MainWindow,         // links and repair, through ResolveGameFolder
    Official,           // the tool page's FindCF
    TestServer,         // the tool page's FindTYF
    SettingsOfficial,   // settings dialog, browse button 1026
    SettingsTestServer, // settings dialog, browse button 1032
};

struct GameFolderTexts
{
    QString key;           // FOLDER or FOLDER_TYF in [CF Info]
    QString title;         // the folder browser's title
    QString nothingChosen; // message when the browser was cancelled
    QString markerMissing; // message when QQLogin.exe is not in the folder
};

GameFolderTexts GameFolderTextsFor(GameFolderVariant variant);

// True when QQLogin.exe (in any letter case) is a file directly inside `folder`.
bool HasGameMarker(const QString& folder);

enum class GameFolderOutcome { Stored, NothingChosen, MarkerMissing, WriteFailed };

// Checks the folder the user chose (empty: the browser was cancelled) and, when it holds the
// marker, writes it under the variant's key. Nothing is written in any other case.
GameFolderOutcome StoreChosenGameFolder(GameFolderVariant variant, const QString& folder,
                                        const QString& configPath = GetConfigPath());

// The message box text for an outcome; empty for Stored. A failed write names the file.
QString GameFolderMessage(GameFolderVariant variant, GameFolderOutcome outcome,
                          const QString& configPath = GetConfigPath());

// Runs the main-window browse (browser, check, store, message) and says whether it stored one.
using GameFolderBrowser = std::function<bool()>;

struct ResolvedGameFolder
{
    bool goOn = false; // false only when the browse was cancelled or failed
    QString folder;    // may be empty even when goOn is true
};

} // namespace config

// The official-server folder for an install or repair, in this order: the game's InstallPath
// under HKEY_LOCAL_MACHINE\Software\Tencent\CrossFire when exactly one Wine prefix has one (a
// drive path becomes a path in that prefix; config.ini is then not looked at); else FOLDER when
// it is longer than two characters; else the one install found under a prefix's drive_c; else
// `browse` (which offers the installs found, when there are several), and FOLDER read again
// after it. An InstallPath that is missing, empty, not text or longer than 259 characters is
// passed over as if the key were absent, and so is an InstallPath or FOLDER naming a folder that
// does not exist: the folder returned always exists, so an install never creates the game
// folder itself.
config::ResolvedGameFolder ResolveGameFolder(const config::GameFolderBrowser& browse,
                                             const QString& configPath = config::GetConfigPath());
