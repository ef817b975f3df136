#pragma once
// One download-and-unpack job for the install dialog and the one way to run it. A VEDERU77
// link makes a pack job (a resource pack into the game's rez tree), the repair button a repair
// job (the repair archive over the game folder); RunInstallJob finds the game folder the same
// way for both and then runs the dialog.

#include <QString>

class QWidget;

namespace installdlg {

// What a pack holds, which decides the folder it goes to. A link names it as text; only the
// three known kinds are installed.
enum class PackKind { Unknown, Marks, Interface, Resources };

// "1" marks, "2" interface, "3" resources; Unknown for any other text.
PackKind PackKindFromText(const QString& text);

struct InstallJob
{
    QString downloadUrl;                       // pack: address without "http://"; repair: the whole address
    bool repairFlag = false;                   // true: the repair; false: a pack install
    QString fileName;                          // name of the archive in the Downloads folder
    PackKind resourceType = PackKind::Unknown; // unused by the repair
    QString programDir;                        // ends with a separator
    QString gameDir;
};

// Finds the game folder (asking for it when none is known), completes `job` with it and the
// program directory, and runs the install dialog over `owner`. Returns once the dialog has
// closed: true when it ran, false when the folder browse was cancelled or failed (the browse
// has said why).
bool RunInstallJob(InstallJob job, QWidget* owner);

} // namespace installdlg
