// Page API: the methods that hand their work to other parts of the program: starting programs,
// choosing the game folders, unpacking archives and reading the registry.
#include "pagehost/htmlctrl.h"

#include "archive/unzipfolder.h"
#include "config/gameinstalls.h"
#include "pagehost/pagelog.h"
#include "platform/launcher.h"
#include "platform/registry.h"
#include "widgets/gamefolderbrowser.h"
#include "widgets/messagebox.h"

#include <QPointer>

bool CHtmlCtrl::RunExe(const QString& path)
{
    QString problem;
    QPointer<QWidget> owner = window();
    const platform::OpenOutcome outcome = platform::OpenTarget(
        path, &problem,
        [owner](const QString& why) { widgets::msgbox::Show(why, widgets::msgbox::OkOnly, owner.data()); },
        [owner](const QString& question) {
            return widgets::msgbox::Show(question, widgets::msgbox::OkCancel, owner.data())
                == widgets::msgbox::Ok;
        });
    if (outcome == platform::OpenOutcome::Started)
        return true;
    if (outcome == platform::OpenOutcome::Declined)
        return false;
    // Without Wine, or without the prefix's manager, the game folder is not to blame.
    widgets::msgbox::Show(problem.isEmpty() ? QStringLiteral("游戏运行失败，请检查游戏目录是否正确！")
                                            : problem,
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
    const QString text = platform::RegistryReadString(root, subKey, valueName);
    if (!text.isEmpty() || !config::IsGameInstallValue(root, subKey, valueName))
        return text;
    // The game is seldom in the default prefix: a game manager keeps it in one of its own. The
    // one installation found anywhere answers for it, without touching config.ini.
    const QList<config::GameInstall> installs = config::FindGameInstalls();
    return installs.size() == 1 ? installs.first().folder : QString();
}
