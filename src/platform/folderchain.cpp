#include "platform/folderchain.h"

#include "platform/nativepaths.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool isSeparator(QChar ch)
{
    return ch == u'\\' || ch == u'/';
}

void makeOneFolder(const QString& path)
{
    if (!path.isEmpty())
        QDir().mkdir(platform::NativePath(path));
}

} // namespace

bool IsExistingFolder(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QFileInfo(platform::NativePath(path)).isDir();
}

bool CreateFolderChain(const QString& path)
{
    if (path.isEmpty())
        return false;
    // Walk left to right so that each level is created before the one below it; a level
    // that exists already, or a drive-like first level, just fails quietly.
    for (qsizetype i = 1; i < path.size(); ++i) {
        if (isSeparator(path[i]) && !isSeparator(path[i - 1]))
            makeOneFolder(path.left(i));
    }
    makeOneFolder(path);
    return IsExistingFolder(path);
}
