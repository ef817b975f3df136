#pragma once
// Unpacking a whole ZIP archive into a folder, for the page API and the install dialog.
// Before anything is written the archive is checked as a whole: entries may not share bytes
// (a few kilobytes that unpack to gigabytes), and the destination's disk must hold the sum of
// the unpacked sizes. Small archives are written in archive order and the first entry that
// fails ends the work; large ones are written by a few threads at once, and the first failure
// stops every thread and fails the call. Either way what was written before stays, and
// nothing is ever written outside the destination folder, nor through a link inside it.

#include <QString>

namespace archive {

enum class UnzipError {
    None,
    BadArguments,       // an empty path, or no file at the archive path
    NotAnArchive,       // missing, unreadable, or no ZIP central directory
    OverlappingEntries, // entries share bytes of the archive: refused, nothing written
    DiskFull,           // too little free space (checked first: nothing written), or a full disk
    CannotCreate,       // the destination or a file in it could not be created
    LinkInPath,         // a link in the destination lies where an entry goes
    Password,           // an encrypted entry
    CorruptData,
    WriteError,
};

struct UnzipOptions
{
    int workers = 0;               // 0: one per processor core
    qint64 parallelFrom = 4 << 20; // unpacked bytes below which one thread is quicker
};

// The reason when not every entry was unpacked; None otherwise. Both paths may separate levels
// with '\' or '/'; the destination need not exist and may end with a separator.
UnzipError UnzipArchive(const QString& archivePath, const QString& destinationFolder,
                        const UnzipOptions& options = {});

// A short English description of `error` for logs ("not enough free space").
const char* DescribeUnzipError(UnzipError error);

} // namespace archive

// True when every entry was unpacked.
bool UnzipArchiveToFolder(const QString& archivePath, const QString& destinationFolder);
