#include "repair.h"

#include "addresses.h"
#include "gamefolderbrowser.h"
#include "locator.h"
#include "onlinedlg.h"
#include "programdir.h"

void RepairGame(QWidget* owner)
{
    const ResolvedGameFolder game =
        ResolveGameFolder([owner] { return BrowseGameFolder(owner, GameFolderVariant::MainWindow); });
    if (!game.goOn)
        return;

    COnlineDlg dialog(owner);
    dialog.repairFlag = QStringLiteral("1");
    dialog.downloadUrl = Addresses::RepairArchiveUrl();
    dialog.fileName = QStringLiteral("yxxf.zip");
    dialog.gameDir = game.folder;
    dialog.programDir = GetProgramDir();
    dialog.DoModal();
}
