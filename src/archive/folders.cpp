#include "folders.h"

#include "entryname.h"
#include "paths.h"

#include <QDir>
#include <QFileInfo>

namespace {

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
        if (archive::IsNameSeparator(path[i]) && !archive::IsNameSeparator(path[i - 1]))
            makeOneFolder(path.left(i));
    }
    makeOneFolder(path);
    return IsExistingFolder(path);
}

void EnsureFolder(const QString& root, const QString& dir)
{
    if (!root.isEmpty() && !QFileInfo::exists(platform::NativePath(root)))
        makeOneFolder(root);
    if (dir.isEmpty())
        return;
    qsizetype last = -1;
    for (qsizetype i = 1; i < dir.size(); ++i) {
        if (archive::IsNameSeparator(dir[i]))
            last = i;
    }
    if (last > 0)
        EnsureFolder(root, dir.left(last));
    const QString full = root + dir;
    if (!QFileInfo::exists(platform::NativePath(full)))
        makeOneFolder(full);
}
