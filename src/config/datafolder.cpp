#include "config/datafolder.h"

#include "config/inifile.h"
#include "config/inilog.h"
#include "config/programdir.h"
#include "config/settingskeys.h"

#include <QDir>
#include <QTemporaryFile>

#include <utility>

namespace config {

namespace {

// Whether a file can really be made there: the access bits alone miss read-only mounts.
bool canWrite(const QString& folder)
{
    QTemporaryFile probe(folder + QStringLiteral(".write-test-XXXXXX"));
    return probe.open();
}

} // namespace

QString BuildVersion()
{
    return QStringLiteral(YFZS_BUILD_VERSION);
}

QString BuildSerTime()
{
    return QStringLiteral(YFZS_BUILD_SERTIME);
}

DataFolderState PrepareDataFolder()
{
    // A folder this user can write is the data folder as it is: a portable copy.
    if (!IsSystemInstall())
        return DataFolderState::Ready;
    // Installed for everyone: the program folder is this user's data folder.
    const QString folder = PerUserDataDir();

    if (!QDir().mkpath(folder) || !canWrite(folder)) {
        qCWarning(lcIni) << "data folder cannot be written:" << folder;
        return DataFolderState::NotWritable;
    }
    const QString config = folder + keys::kConfigFile;
    for (const auto& [key, value] :
         {std::pair{keys::kVersion, BuildVersion()}, std::pair{keys::kSerTime, BuildSerTime()}}) {
        if (ReadIniString(config, keys::kYfzsVer, key, QString(), 120) != value
            && !WriteIniString(config, keys::kYfzsVer, key, value)) {
            qCWarning(lcIni) << "cannot record the build's" << key << "in" << config;
            return DataFolderState::NotWritable;
        }
    }
    return DataFolderState::Ready;
}

QString DataFolderMessage(const QString& folder)
{
    return QStringLiteral("无法写入数据文件夹“%1”。\n设置、登录状态和下载的资源都无法保存。"
                          "请检查该文件夹（或 XDG_DATA_HOME 指向的文件夹）的权限。")
        .arg(QDir::toNativeSeparators(folder));
}

} // namespace config
