#pragma once
// What makes an unpack all or nothing. Every file entry is first written under a hidden name
// in the folder of its target, on the same file system; only when every entry has been written
// and checked are the staged files renamed over their targets, in archive order, each file
// they replace kept under a hidden name until the last rename has succeeded. Any failure
// renames the kept files back and removes every staged file and every folder the unpack made,
// so a damaged pack never costs the player a file.

#include "archive/zipreader.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

namespace archive {

class TargetFolders;

// What a file-system step refused for stands for in an unpack's result: `otherwise` for any
// reason but a link in the path or a full disk.
ZipReader::Result RefusalOf(platform::FsError error,
                            ZipReader::Result otherwise = ZipReader::Result::CannotCreateFile);

class Staging
{
public:
    // A hidden name no other file in the folder has yet (the caller creates it exclusively).
    QString NewName(const char* suffix);

    // Called from any worker: a folder the unpack made (levels below the base, '/'-joined),
    // and a staged file for the entry at `index`.
    void AddFolder(const QString& levels);
    void AddFile(int index, const QString& folderPart, const QString& fileName, const QString& staged);

    // Moves every staged file over its target; on failure undoes everything and tells which
    // entry failed. `folders` must have the same base as the writers'.
    ZipReader::Result Commit(TargetFolders& folders, int* failedIndex);

    // Restores what was replaced and removes what was made.
    void Undo(TargetFolders& folders);

private:
    struct File
    {
        int index = 0;
        QString folderPart;
        QString fileName;
        QString staged;
        QString backup; // the replaced file's hidden name, empty when nothing was replaced
        bool committed = false;
    };

    std::mutex m_mutex;
    std::atomic<quint64> m_counter{0};
    QList<File> m_files;
    QStringList m_folders;
};

} // namespace archive
