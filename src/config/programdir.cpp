#include "programdir.h"

#include "paths.h"

QString GetProgramDir()
{
    const QString exe = platform::ExecutablePath();
    const qsizetype cut = exe.lastIndexOf(platform::Separator());
    if (cut < 0)
        return QString(platform::Separator());
    return exe.left(cut + 1); // "/opt/YFZS/YFZS" → "/opt/YFZS/"; "/YFZS" → "/"
}

QString GetConfigPath()
{
    return GetProgramDir() + QStringLiteral("config.ini");
}
