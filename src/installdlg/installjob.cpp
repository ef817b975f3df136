#include "installdlg/installjob.h"

#include "config/locator.h"
#include "config/programdir.h"
#include "installdlg/onlinedlg.h"
#include "widgets/gamefolderbrowser.h"

namespace installdlg {

PackKind PackKindFromText(const QString& text)
{
    if (text == u"1")
        return PackKind::Marks;
    if (text == u"2")
        return PackKind::Interface;
    if (text == u"3")
        return PackKind::Resources;
    return PackKind::Unknown;
}

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
