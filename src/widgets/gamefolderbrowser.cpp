#include "gamefolderbrowser.h"

#include "gameinstallchooser.h"
#include "messagebox.h"

#include <QDir>
#include <QFileDialog>
#include <QQueue>

#include <utility>

namespace {

// Answers queued by tests; used only on the user-interface thread.
QQueue<QString> nextFolders;
QStringList answeredTitles;

QString askForFolder(QWidget* owner, const QString& title)
{
    if (!nextFolders.isEmpty()) {
        answeredTitles.append(title);
        return nextFolders.dequeue();
    }
    const QString folder = QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
    return folder.isEmpty() ? folder : QDir::toNativeSeparators(folder);
}

} // namespace

bool BrowseGameFolder(QWidget* owner, GameFolderVariant variant, const QString& configPath, QString* chosen)
{
    const QString title = GameFolderTextsFor(variant).title;
    // With the game in several prefixes, the user picks one of them before any browsing.
    QString folder;
    const QList<GameInstall> installs = FindGameInstalls();
    const InstallChoice choice = installs.size() > 1 ? ChooseGameInstall(owner, title, installs)
                                                     : InstallChoice{InstallChoice::Browse, QString()};
    if (choice.kind == InstallChoice::Chosen)
        folder = choice.folder;
    else if (choice.kind == InstallChoice::Browse)
        folder = askForFolder(owner, title);
    if (chosen)
        *chosen = folder;
    const GameFolderOutcome outcome = StoreChosenGameFolder(variant, folder, configPath);
    if (outcome == GameFolderOutcome::Stored)
        return true;
    MsgBox::Show(GameFolderMessage(variant, outcome, configPath), MsgBox::OkOnly, owner);
    return false;
}

void SetNextBrowsedFolder(const QString& folder)
{
    nextFolders.enqueue(folder);
}

QStringList TakeBrowsedTitles()
{
    return std::exchange(answeredTitles, {});
}
