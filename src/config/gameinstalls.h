#pragma once
// The game's installations in every Wine prefix of this user: where each prefix's registry says
// the game is installed, or, for a prefix whose registry does not say, the usual install folders
// under its drive_c that hold QQLogin.exe. Only folders that exist are listed.

#include "platform/prefixfinder.h"

#include <QList>
#include <QString>

namespace config {

struct GameInstall
{
    QString folder; // native path of the folder holding QQLogin.exe (or named by the registry)
    QString label;  // "Lutris · 穿越火线": the manager and the prefix, for a chooser
    bool fromRegistry = false;
};

QList<GameInstall> FindGameInstalls(const QList<platform::WinePrefix>& prefixes);
QList<GameInstall> FindGameInstalls(); // in this user's prefixes

// Whether a registry read asks for the game's install folder (HKEY_LOCAL_MACHINE's
// Software\Tencent\CrossFire, also under Wow6432Node, value InstallPath), which the registry
// view answers from the one installation found when the default prefix does not know it.
bool IsGameInstallValue(int root, const QString& subKey, const QString& valueName);

} // namespace config
