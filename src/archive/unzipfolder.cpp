#include "unzipfolder.h"

#include "folders.h"
#include "paths.h"
#include "zipreader.h"

#include <QFileInfo>

bool UnzipArchiveToFolder(const QString& archivePath, const QString& destinationFolder)
{
    if (destinationFolder.isEmpty() || archivePath.isEmpty())
        return false;
    if (!QFileInfo::exists(platform::NativePath(archivePath)))
        return false;
    if (!IsExistingFolder(destinationFolder)) {
        // With a trailing separator this prepares the destination itself, without one only
        // its parent; the last level then comes with the first entry.
        const qsizetype last = qMax(destinationFolder.lastIndexOf(u'\\'), destinationFolder.lastIndexOf(u'/'));
        if (last > 0 && !CreateFolderChain(destinationFolder.left(last)))
            return false;
    }
    std::unique_ptr<ZipReader> reader = ZipReader::Open(archivePath);
    if (!reader)
        return false;
    reader->SetBaseFolder(destinationFolder);
    const std::optional<int> count = reader->EntryCount();
    if (!count)
        return false;
    for (int i = 0; i < *count; ++i) {
        const std::optional<ZipEntryInfo> entry = reader->GetEntry(i);
        if (!entry || reader->ExtractEntry(i, entry->name) != ZipReader::Result::Ok)
            return false;
    }
    return true;
}
