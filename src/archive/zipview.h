#pragma once
// How minizip sees an archive file: the file as it is, but ending right after the end record of
// the central directory. minizip looks for that record only in the last 65535 bytes, which a
// long archive comment can fill; found here instead, and with the comment cut off, every valid
// archive opens. The central directory is kept in memory once and shared by every handle.

#include <QByteArray>
#include <QString>

#include <memory>

namespace archive {

struct ZipLayout
{
    QString nativePath;
    qint64 end = 0;            // where the view stops: just after the end record
    qint64 endRecord = 0;      // offset of the end record
    bool empty = false;        // an end record with no entries and nothing before it
    qint64 directoryStart = 0; // central directory as minizip will read it, if cached
    std::shared_ptr<const QByteArray> directory;
};

// Finds the end record: the last one whose comment reaches exactly to the end of the file, or
// failing that the last signature at all (as minizip would take it). None when there is none.
std::unique_ptr<ZipLayout> FindZipLayout(const QString& nativePath);

// Opens a minizip handle (an unzFile) over the view; null when minizip refuses the archive.
void* OpenZipHandle(const std::shared_ptr<const ZipLayout>& layout);

} // namespace archive
