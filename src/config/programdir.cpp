#include "config/programdir.h"

#include "platform/nativepaths.h"

#include <QDir>
#include <QFileInfo>

namespace config {

QString GetExecutableDir()
{
    const QString exe = platform::ExecutablePath();
    const qsizetype cut = exe.lastIndexOf(platform::Separator());
    if (cut < 0)
        return QString(platform::Separator());
    return exe.left(cut + 1); // "/opt/YFZS/YFZS" → "/opt/YFZS/"; "/YFZS" → "/"
}

bool IsSystemLocation(const QString& folder)
{
    QString dir = QDir::cleanPath(folder);
    for (const QLatin1String root : {QLatin1String("/usr"), QLatin1String("/opt")}) {
        if (dir == root || dir.startsWith(root + u'/'))
            return true;
    }
    // By their place, since root can write there; elsewhere whether this user can write.
    return !QFileInfo(dir).isWritable();
}

bool IsSystemInstall()
{
    return IsSystemLocation(GetExecutableDir());
}

QString PerUserDataDir()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    // The base directory rules ignore a relative value.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base) + QStringLiteral("/YFZS") + platform::Separator();
}

QString GetConfigPath()
{
    return GetProgramDir() + QStringLiteral("config.ini");
}

} // namespace config

QString GetProgramDir()
{
    const QString exeDir = config::GetExecutableDir();
    return config::IsSystemLocation(exeDir) ? config::PerUserDataDir() : exeDir;
}
