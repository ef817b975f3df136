#include "installjob.h"

#include "gamefolderbrowser.h"
#include "locator.h"
#include "onlinedlg.h"
#include "programdir.h"

namespace installdlg {

bool RunInstallJob(InstallJob job, QWidget* owner)
{
    const config::ResolvedGameFolder game = ResolveGameFolder(
        [owner] { return BrowseGameFolder(owner, config::GameFolderVariant::MainWindow); });
    if (!game.goOn)
        return false;

    job.gameDir = game.folder;
    job.programDir = GetProgramDir();
    COnlineDlg dialog(job, owner);
    dialog.DoModal();
    return true;
}

} // namespace installdlg
