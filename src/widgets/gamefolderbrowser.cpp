#include "widgets/gamefolderbrowser.h"

#include "config/inifile.h"
#include "config/settingskeys.h"
#include "platform/registry.h"
#include "widgets/gameinstallchooser.h"
#include "widgets/messagebox.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QQueue>

#include <utility>

namespace widgets {

namespace {

// Answers queued by tests; used only on the user-interface thread.
QQueue<QString> nextFolders;
QStringList answeredTitles;

QString askForFolder(QWidget* owner, const QString& title, const QString& start)
{
    if (!nextFolders.isEmpty()) {
        answeredTitles.append(title);
        return nextFolders.dequeue();
    }
    // Qt's own browser, not the desktop's: it speaks the program's Chinese on any locale.
    const QString folder = QFileDialog::getExistingDirectory(
        owner, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    return folder.isEmpty() ? folder : QDir::toNativeSeparators(folder);
}

} // namespace

QString GameFolderBrowserStart(config::GameFolderVariant variant, const QString& configPath)
{
    const QString current = ReadIniString(configPath, config::keys::kCfInfo,
                                          config::GameFolderTextsFor(variant).key);
    if (!current.isEmpty()) {
        const QString native = platform::DosPathToNative(current);
        if (QFileInfo(native).isDir())
            return QDir::cleanPath(native);
    }
    // The one installation found in the player's prefixes is most likely what is looked for.
    const QList<config::GameInstall> installs = config::FindGameInstalls();
    if (installs.size() == 1 && QFileInfo(installs.first().folder).isDir())
        return installs.first().folder;
    const QString drive = platform::WinePrefixDir() + QStringLiteral("/drive_c");
    // A 64-bit prefix keeps 32-bit games such as this one under "Program Files (x86)".
    for (const QString& folder :
         {drive + QStringLiteral("/Program Files (x86)"), drive + QStringLiteral("/Program Files"), drive}) {
        if (QFileInfo(folder).isDir())
            return QDir::cleanPath(folder);
    }
    return QDir::homePath();
}

} // namespace widgets

bool BrowseGameFolder(QWidget* owner, config::GameFolderVariant variant, const QString& configPath,
                      QString* chosen)
{
    const QString title = config::GameFolderTextsFor(variant).title;
    // With the game in several prefixes, the user picks one of them before any browsing.
    QString folder;
    const QList<config::GameInstall> installs = config::FindGameInstalls();
    const widgets::InstallChoice choice = installs.size() > 1
        ? widgets::ChooseGameInstall(owner, title, installs)
        : widgets::InstallChoice{widgets::InstallChoice::Browse, QString()};
    if (choice.kind == widgets::InstallChoice::Chosen)
        folder = choice.folder;
    else if (choice.kind == widgets::InstallChoice::Browse)
        folder = widgets::askForFolder(owner, title, widgets::GameFolderBrowserStart(variant, configPath));
    if (chosen)
        *chosen = folder;
    const config::GameFolderOutcome outcome = config::StoreChosenGameFolder(variant, folder, configPath);
    if (outcome == config::GameFolderOutcome::Stored)
        return true;
    widgets::msgbox::Show(config::GameFolderMessage(variant, outcome, configPath), widgets::msgbox::OkOnly,
                          owner);
    return false;
}

namespace widgets {

void SetNextBrowsedFolder(const QString& folder)
{
    nextFolders.enqueue(folder);
}

QStringList TakeBrowsedTitles()
{
    return std::exchange(answeredTitles, {});
}

} // namespace widgets
