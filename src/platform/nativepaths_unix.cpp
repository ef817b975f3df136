#include "platform/nativepaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pwd.h>
#include <unistd.h>

namespace platform {

QString ExecutablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString NativePath(QStringView path)
{
    QString out;
    out.reserve(path.size());
    bool lastWasSeparator = false;
    for (qsizetype i = 0; i < path.size(); ++i) {
        QChar ch = path[i];
        if (ch == u'\\')
            ch = u'/';
        const bool separator = ch == u'/';
        if (separator && lastWasSeparator)
            continue;
        out.append(ch);
        lastWasSeparator = separator;
    }
    return out;
}

QChar Separator()
{
    return u'/';
}

QString UserStateDir()
{
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty()) {
        if (const passwd* pw = getpwuid(getuid()))
            home = QFile::decodeName(pw->pw_dir);
    }
    if (home.isEmpty())
        home = QDir::rootPath();
    const QString dir = home + QStringLiteral("/.local/state/YFZS");
    if (!QFileInfo::exists(dir)) {
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return dir;
}

} // namespace platform
