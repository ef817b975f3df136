#pragma once
// One download-and-unpack job for the install dialog and the one way to run it. A VEDERU77
// link makes a pack job (a resource pack into the game's rez tree), the repair button a repair
// job (the repair archive over the game folder); RunInstallJob finds the game folder the same
// way for both and then runs the dialog.

#include <QString>

class QWidget;

namespace installdlg {

// The kinds of resource pack, by the folder below the game folder each unpacks into.
enum class PackKind { UiMark, Ui, Rez };

struct InstallJob
{
    QString downloadUrl;     // pack: address without "http://"; repair: the whole address
    bool repairFlag = false; // true: the repair; false: a pack install
    QString fileName;        // name of the archive in the Downloads folder
    PackKind resourceType{}; // unused by the repair
    QString programDir;      // ends with a separator
    QString gameDir;
};

// Finds the game folder (asking for it when none is known), completes `job` with it and the
// program directory, and runs the install dialog over `owner`. Returns once the dialog has
// closed: true when it ran, false when the folder browse was cancelled or failed (the browse
// has said why).
bool RunInstallJob(InstallJob job, QWidget* owner);

} // namespace installdlg
