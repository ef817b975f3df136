#pragma once
// Unpacking a whole ZIP archive into a folder, for the page API and the install dialog.
// Entries are written in archive order; the first entry that fails ends the work, and what
// was written before it stays. Nothing is ever written outside the destination folder.

#include <QString>

// True when every entry was unpacked. Both paths may separate levels with '\' or '/'; the
// destination need not exist and may end with a separator.
bool UnzipArchiveToFolder(const QString& archivePath, const QString& destinationFolder);
