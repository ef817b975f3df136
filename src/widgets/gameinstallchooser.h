#pragma once
// A small chooser shown before the folder browser when the game is installed in several Wine
// prefixes: one line per install, named by its manager and prefix, and "浏览…" for the browser.

#include "config/gameinstalls.h"

#include <QList>
#include <QString>

class QWidget;

namespace widgets {

struct InstallChoice
{
    enum Kind { Chosen, Browse, Cancelled } kind = Cancelled;
    QString folder; // for Chosen
};

InstallChoice ChooseGameInstall(QWidget* owner, const QString& title,
                                const QList<config::GameInstall>& installs);

// Test seam: the next chooser is not shown but answered: an index into the installs, -1 for
// "浏览…", anything else for cancelled. One answer per chooser, oldest first.
void SetNextInstallChoice(int answer);

} // namespace widgets
