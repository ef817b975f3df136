#pragma once
// The folder browser for the game's installations: asks the user for a folder with the
// variant's title, checks it for QQLogin.exe and stores it in config.ini, saying in one
// message box why when it does not. The rules themselves are config's locator.

#include "config/locator.h"

#include <QString>

class QWidget;

// True when a folder holding QQLogin.exe was chosen and stored under the variant's key of
// `configPath`; otherwise one message box has said why and nothing was written. `chosen`, when
// given, receives the folder the user picked (empty when the browser was cancelled), whether or
// not it was stored. Used by the tool page's FindCF (Official) and FindTYF (TestServer), by
// ResolveGameFolder (MainWindow) and by the settings dialog's browse buttons.
bool BrowseGameFolder(QWidget* owner, config::GameFolderVariant variant,
                      const QString& configPath = config::GetConfigPath(), QString* chosen = nullptr);

namespace widgets {

// Where the browser opens: the variant's game folder when one is set and exists, else the Wine
// prefix's Program Files (x86) or Program Files (or its C: drive), else the user's home.
QString GameFolderBrowserStart(config::GameFolderVariant variant,
                               const QString& configPath = config::GetConfigPath());

// Test seam: the next browser is not shown but answered with `folder` (empty: cancelled).
// One answer per browser, oldest first.
void SetNextBrowsedFolder(const QString& folder);
// Titles of the browsers answered through the seam, oldest first; taking them clears the list.
QStringList TakeBrowsedTitles();

} // namespace widgets
