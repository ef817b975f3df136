// Page API: the methods that hand their work to other parts of the program: starting programs,
// choosing the game folders, unpacking archives and reading the registry.
#include "htmlctrl.h"

#include "gamefolderbrowser.h"
#include "launcher.h"
#include "messagebox.h"
#include "registry.h"
#include "unzipfolder.h"

bool CHtmlCtrl::RunExe(const QString& path)
{
    const platform::OpenOutcome outcome = platform::OpenTarget(path);
    if (outcome == platform::OpenOutcome::Started)
        return true;
    // Without Wine the game folder is not to blame.
    MsgBox::Show(outcome == platform::OpenOutcome::WineMissing ? platform::WineMissingMessage()
                                                               : QStringLiteral("游戏运行失败，请检查游戏目录是否正确！"),
                 MsgBox::OkOnly, window());
    return false;
}

bool CHtmlCtrl::FindCF()
{
    return BrowseGameFolder(this, GameFolderVariant::Official);
}

bool CHtmlCtrl::FindTYF()
{
    return BrowseGameFolder(this, GameFolderVariant::TestServer);
}

int CHtmlCtrl::UnzipFile(const QString& archive, const QString& folder)
{
    if (archive.isEmpty() || folder.isEmpty())
        return 0;
    return UnzipArchiveToFolder(archive, folder) ? 1 : 0;
}

QString CHtmlCtrl::GetRegString(int root, const QString& subKey, const QString& valueName)
{
    return platform::RegistryReadString(root, subKey, valueName);
}
