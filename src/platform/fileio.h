#pragma once
// Small files that other programs may share or replace at any moment: reading one whole
// without ever blocking or swallowing a device, telling whether it changed since it was read
// (by its identity, without opening it), and an advisory lock that serialises its writers
// across processes. The settings store is built on these.

#include <QByteArray>
#include <QString>

namespace platform {

// Which version of a file a path names: a rename or an edit changes at least one field. File
// times move in coarse ticks, so two versions written within one tick may share their times
// (see FileTimeTickNs).
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0; // since the epoch
    qint64 changedNs = 0;  // inode change time: moves on every write, and cannot be set back

    bool operator==(const FileIdentity&) const = default;
};

enum class FileKind { Missing, Regular, Other, Unreadable };

struct FileStatus
{
    FileKind kind = FileKind::Missing;
    FileIdentity identity; // meaningful for Regular only
};

// The status of what `path` names, following links; one system call, nothing opened.
FileStatus StatFile(const QString& path);

enum class FileReadStatus { Ok, Missing, NotRegular, TooLarge, Failed };

struct FileContent
{
    FileReadStatus status = FileReadStatus::Failed;
    QByteArray data;
    FileIdentity identity; // of the file as it was when the read ended
    qint64 startedNs = 0;  // wall clock just before the file was opened
};

// Reads the whole of a regular file of at most maxSize bytes. FIFOs, devices, folders and
// sockets are refused without waiting for a writer or reading a byte (the file is opened
// non-blocking and checked before any read); a larger file, or one that grows past maxSize
// while being read, gives TooLarge.
FileContent ReadRegularFile(const QString& path, qint64 maxSize);

// The wall clock in nanoseconds since the epoch, the clock file times are taken from.
qint64 WallClockNs();

// How far a file time may lag behind the wall clock: a version whose times are closer than this
// to the moment it was read may be followed by another with the same times.
qint64 FileTimeTickNs(const FileIdentity& identity);

// An exclusive advisory lock held on `lockPath` (created owner-only when missing) for the
// object's lifetime. Every writer of a shared file takes the same lock file beside it; the
// lock is never taken on the shared file itself, whose inode a rename replaces.
class FileLock
{
public:
    explicit FileLock(const QString& lockPath);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Waits up to timeoutMs for the lock; false when it could not be created or taken in time.
    bool Acquire(int timeoutMs);
    bool IsHeld() const;
    // After a failed Acquire: true when someone else holds the lock, false when there is no
    // lock to take (the file could not be made or opened).
    bool IsBusy() const;
    QString ErrorString() const;

private:
    QString m_path;
    int m_fd = -1;
    bool m_held = false;
    bool m_busy = false;
    QString m_error;
};

} // namespace platform
