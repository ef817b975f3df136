// Page API: the methods that hand their work to other parts of the program: starting programs,
// choosing the game folders, unpacking archives and reading the registry.
#include "htmlctrl.h"

#include "gamefolderbrowser.h"
#include "launcher.h"
#include "messagebox.h"
#include "pagelog.h"
#include "registry.h"
#include "unzipfolder.h"

bool CHtmlCtrl::RunExe(const QString& path)
{
    const platform::OpenOutcome outcome = platform::OpenTarget(path);
    if (outcome == platform::OpenOutcome::Started)
        return true;
    // Without Wine the game folder is not to blame.
    widgets::msgbox::Show(outcome == platform::OpenOutcome::WineMissing
                              ? platform::WineMissingMessage()
                              : QStringLiteral("游戏运行失败，请检查游戏目录是否正确！"),
                          widgets::msgbox::OkOnly, window());
    return false;
}

bool CHtmlCtrl::FindCF()
{
    return BrowseGameFolder(this, config::GameFolderVariant::Official);
}

bool CHtmlCtrl::FindTYF()
{
    return BrowseGameFolder(this, config::GameFolderVariant::TestServer);
}

int CHtmlCtrl::UnzipFile(const QString& archive, const QString& folder)
{
    // The page's result stays 1 or 0, whatever the cause: the reason goes to the log only.
    if (archive.isEmpty() || folder.isEmpty()) {
        qCWarning(pagehost::lcPage) << "UnzipFile: an empty path";
        return 0;
    }
    const archive::UnzipError error = archive::UnzipArchive(archive, folder);
    if (error == archive::UnzipError::None)
        return 1;
    qCWarning(pagehost::lcPage).noquote()
        << "UnzipFile:" << archive << "into" << folder << ":" << archive::DescribeUnzipError(error);
    return 0;
}

QString CHtmlCtrl::GetRegString(int root, const QString& subKey, const QString& valueName)
{
    return platform::RegistryReadString(root, subKey, valueName);
}
