#include "config/locator.h"

#include "config/gameinstalls.h"
#include "config/inifile.h"
#include "config/settingskeys.h"
#include "platform/nativepaths.h"
#include "platform/registry.h"

#include <QDir>
#include <QFileInfo>

namespace config {
namespace {

// A stored folder of two characters or fewer ("0", "C:") counts as none.
bool isUsableFolder(const QString& folder)
{
    return folder.size() > 2;
}

// A remembered folder that is gone (game moved, prefix deleted) is no game folder: an install
// into it would create the whole path and report success.
bool exists(const QString& folder)
{
    return QFileInfo(folder).isDir();
}

// FOLDER as a native path when it names a folder that exists; otherwise empty.
QString readStoredFolder(const QString& configPath)
{
    const QString stored = ReadIniString(configPath, keys::kCfInfo, keys::kFolder, QStringLiteral("0"), 260);
    if (!isUsableFolder(stored))
        return QString();
    // A config.ini carried over from Windows names drives; those live in the Wine prefix here.
    const QString native = platform::DosPathToNative(stored);
    return exists(native) ? native : QString();
}

} // namespace

GameFolderTexts GameFolderTextsFor(GameFolderVariant variant)
{
    switch (variant) {
    case GameFolderVariant::MainWindow:
        return {keys::kFolder, QStringLiteral("请选择 穿越火线(CrossFire) 安装目录："),
                QStringLiteral("未指定游戏目录"), QStringLiteral("非 穿越火线(CrossFire) 安装目录")};
    case GameFolderVariant::Official:
    case GameFolderVariant::SettingsOfficial:
        return {keys::kFolder, QStringLiteral("请选择 穿越火线<官方服> 目录："),
                QStringLiteral("未指定<官方服>目录。"),
                QStringLiteral("没有找到QQLogin.exe，非 穿越火线<官方服> 游戏目录。")};
    case GameFolderVariant::TestServer:
    case GameFolderVariant::SettingsTestServer:
        break;
    }
    return {keys::kFolderTyf, QStringLiteral("请选择 穿越火线<体验服> 游戏目录："),
            QStringLiteral("未指定<体验服>目录。"),
            QStringLiteral("没有找到QQLogin.exe，非 穿越火线<体验服> 游戏目录。")};
}

bool HasGameMarker(const QString& folder)
{
    static const QString marker = QStringLiteral("QQLogin.exe");
    const QString native = platform::NativePath(folder);
    if (native.isEmpty())
        return false;
    if (QFileInfo(native + u'/' + marker).isFile())
        return true;
    // Windows finds the file whatever its letter case; a Linux folder may hold "qqlogin.exe".
    const QStringList files = QDir(native).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : files) {
        if (name.compare(marker, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

GameFolderOutcome StoreChosenGameFolder(GameFolderVariant variant, const QString& folder,
                                        const QString& configPath)
{
    if (folder.isEmpty())
        return GameFolderOutcome::NothingChosen;
    if (!HasGameMarker(folder))
        return GameFolderOutcome::MarkerMissing;
    if (!WriteIniString(configPath, keys::kCfInfo, GameFolderTextsFor(variant).key, folder))
        return GameFolderOutcome::WriteFailed;
    return GameFolderOutcome::Stored;
}

QString GameFolderMessage(GameFolderVariant variant, GameFolderOutcome outcome, const QString& configPath)
{
    switch (outcome) {
    case GameFolderOutcome::Stored:
        return QString();
    case GameFolderOutcome::NothingChosen:
        return GameFolderTextsFor(variant).nothingChosen;
    case GameFolderOutcome::MarkerMissing:
        return GameFolderTextsFor(variant).markerMissing;
    case GameFolderOutcome::WriteFailed:
        break;
    }
    return configPath + QStringLiteral("错误");
}

} // namespace config

config::ResolvedGameFolder ResolveGameFolder(const config::GameFolderBrowser& browse,
                                             const QString& configPath)
{
    // Every prefix's registry is asked; one answer is taken as the game's own word, as on
    // Windows. Several leave the choice to the user's stored folder or to the chooser.
    const QList<config::GameInstall> installs = config::FindGameInstalls();
    if (installs.size() == 1 && installs.first().fromRegistry)
        return {true, installs.first().folder};

    const QString stored = config::readStoredFolder(configPath);
    if (!stored.isEmpty())
        return {true, stored};

    if (installs.size() == 1)
        return {true, installs.first().folder};

    if (!browse || !browse())
        return {false, QString()};
    return {true, config::readStoredFolder(configPath)};
}
