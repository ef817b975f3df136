#include "archive/staging.h"

#include "archive/archivelog.h"
#include "archive/targetfolders.h"

#include <QCoreApplication>

#include <algorithm>

namespace archive {

ZipReader::Result RefusalOf(platform::FsError error, ZipReader::Result otherwise)
{
    switch (error) {
    case platform::FsError::Link:
        return ZipReader::Result::LinkInPath;
    case platform::FsError::NoSpace:
        return ZipReader::Result::NoSpace;
    default:
        return otherwise;
    }
}

QString Staging::NewName(const char* suffix)
{
    return QStringLiteral(".yfzs-%1-%2.%3")
        .arg(QCoreApplication::applicationPid())
        .arg(m_counter.fetch_add(1))
        .arg(QLatin1StringView(suffix));
}

void Staging::AddFolder(const QString& levels)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_folders.append(levels);
}

void Staging::AddFile(int index, const QString& folderPart, const QString& fileName, const QString& staged)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_files.append({index, folderPart, fileName, staged, QString(), false});
}

ZipReader::Result Staging::Commit(TargetFolders& folders, int* failedIndex)
{
    // Archive order, so that of several entries with one target the last one stays.
    std::stable_sort(m_files.begin(), m_files.end(),
                     [](const File& a, const File& b) { return a.index < b.index; });
    ZipReader::Result result = ZipReader::Result::Ok;
    for (File& file : m_files) {
        platform::FsError error = platform::FsError::None;
        const platform::Folder* folder = folders.Reach(file.folderPart, &error);
        bool exists = false;
        if (folder)
            error = folder->CheckReplaceable(file.fileName, &exists);
        if (!folder || error != platform::FsError::None) {
            result = RefusalOf(error);
        } else if (exists && !folder->Rename(file.fileName, file.backup = NewName("old"), &error)) {
            file.backup.clear();
            result = RefusalOf(error);
        } else if (!folder->Rename(file.staged, file.fileName, &error)) {
            if (!file.backup.isEmpty() && !folder->Rename(file.backup, file.fileName))
                qCWarning(lcArchive) << "cannot restore" << file.fileName << "from" << file.backup;
            file.backup.clear();
            result = RefusalOf(error);
        } else {
            file.committed = true;
            continue;
        }
        *failedIndex = file.index;
        Undo(folders);
        return result;
    }
    for (const File& file : std::as_const(m_files)) {
        const platform::Folder* folder = file.backup.isEmpty() ? nullptr
                                                               : folders.Reach(file.folderPart, nullptr);
        if (folder && !folder->Remove(file.backup, false))
            qCWarning(lcArchive) << "cannot remove the replaced file" << file.backup;
    }
    return result;
}

void Staging::Undo(TargetFolders& folders)
{
    for (auto file = m_files.rbegin(); file != m_files.rend(); ++file) {
        const platform::Folder* folder = folders.Reach(file->folderPart, nullptr);
        if (!folder) {
            qCWarning(lcArchive) << "cannot reach" << file->folderPart << "to undo the unpack";
            continue;
        }
        bool done = true;
        if (!file->committed)
            done = folder->Remove(file->staged, false);
        else if (!file->backup.isEmpty())
            done = folder->Rename(file->backup, file->fileName);
        else
            done = folder->Remove(file->fileName, false);
        if (!done)
            qCWarning(lcArchive) << "cannot undo the unpack of" << file->fileName;
        file->committed = false;
    }
    m_files.clear();
    // The deepest first, so that each is empty again when its turn comes.
    std::sort(m_folders.begin(), m_folders.end(),
              [](const QString& a, const QString& b) { return a.count(u'/') > b.count(u'/'); });
    for (const QString& levels : std::as_const(m_folders)) {
        const qsizetype cut = levels.lastIndexOf(u'/');
        const platform::Folder* parent = folders.Reach(cut < 0 ? QString() : levels.left(cut), nullptr);
        if (!parent || !parent->Remove(levels.sliced(cut + 1), true))
            qCWarning(lcArchive) << "cannot remove the folder" << levels;
    }
    m_folders.clear();
}

} // namespace archive
