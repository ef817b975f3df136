#include "platform/confinedfiles.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {

void report(FsError* error, FsError value)
{
    if (error)
        *error = value;
}

FsError fromErrno(int code)
{
    switch (code) {
    case ENOENT:
        return FsError::NotFound;
    case ELOOP:
        return FsError::Link;
    case ENOTDIR:
        return FsError::NotFolder;
    case ENOSPC:
    case EDQUOT:
        return FsError::NoSpace;
    default:
        return FsError::Other;
    }
}

// Why `name` in `dirFd` cannot serve as a folder, from what is there now.
FsError classifyLevel(int dirFd, const char* name, int openErrno)
{
    struct stat st
    {
    };
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return fromErrno(errno);
    if (S_ISLNK(st.st_mode))
        return FsError::Link;
    if (!S_ISDIR(st.st_mode))
        return FsError::NotFolder;
    return fromErrno(openErrno);
}

int openLevel(int dirFd, const char* name)
{
    int fd;
    do
        fd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// One level of a path: neither empty nor a separator, and never "." or "..", which would lead
// back out of the folder it is opened in.
bool isSingleName(const QByteArray& name)
{
    return !name.isEmpty() && !name.contains('/') && name != "." && name != "..";
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

Folder::~Folder()
{
    closeFd(m_fd);
}

Folder::Folder(Folder&& other) noexcept
    : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept
{
    if (this != &other) {
        closeFd(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

Folder Folder::Open(const QString& path, bool create, FsError* error)
{
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        if (::mkdir(native.constData(), 0777) != 0 && errno != EEXIST) {
            report(error, fromErrno(errno));
            return {};
        }
        fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd < 0) {
        report(error, fromErrno(errno));
        return {};
    }
    report(error, FsError::None);
    return Folder(fd);
}

Folder Folder::Sub(const QString& name, bool create, FsError* error, bool* created) const
{
    if (created)
        *created = false;
    const QByteArray native = QFile::encodeName(name);
    if (m_fd < 0 || !isSingleName(native)) {
        report(error, FsError::Other);
        return {};
    }
    int fd = openLevel(m_fd, native.constData());
    if (fd < 0 && errno == ENOENT && create) {
        // mkdirat never follows a link in its last level: a link there gives EEXIST, and the
        // open below then refuses it.
        if (mkdirat(m_fd, native.constData(), 0777) == 0) {
            if (created)
                *created = true;
        } else if (errno != EEXIST) {
            report(error, fromErrno(errno));
            return {};
        }
        fd = openLevel(m_fd, native.constData());
    }
    if (fd < 0) {
        report(error, classifyLevel(m_fd, native.constData(), errno));
        return {};
    }
    report(error, FsError::None);
    return Folder(fd);
}

FsError Folder::CheckReplaceable(const QString& name, bool* exists) const
{
    *exists = false;
    const QByteArray native = QFile::encodeName(name);
    if (m_fd < 0 || !isSingleName(native))
        return FsError::Other;
    struct stat st
    {
    };
    if (fstatat(m_fd, native.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? FsError::None : fromErrno(errno);
    *exists = true;
    if (S_ISLNK(st.st_mode))
        return FsError::Link;
    if (!S_ISREG(st.st_mode))
        return FsError::NotRegularFile;
    if (!(st.st_mode & S_IWUSR))
        return FsError::ReadOnly;
    return FsError::None;
}

bool Folder::Rename(const QString& from, const QString& to, FsError* error) const
{
    const QByteArray nativeFrom = QFile::encodeName(from);
    const QByteArray nativeTo = QFile::encodeName(to);
    if (m_fd < 0 || !isSingleName(nativeFrom) || !isSingleName(nativeTo)) {
        report(error, FsError::Other);
        return false;
    }
    if (renameat(m_fd, nativeFrom.constData(), m_fd, nativeTo.constData()) != 0) {
        report(error, errno == EISDIR || errno == ENOTEMPTY ? FsError::NotRegularFile : fromErrno(errno));
        return false;
    }
    report(error, FsError::None);
    return true;
}

bool Folder::Remove(const QString& name, bool folder) const
{
    const QByteArray native = QFile::encodeName(name);
    if (m_fd < 0 || !isSingleName(native))
        return false;
    return unlinkat(m_fd, native.constData(), folder ? AT_REMOVEDIR : 0) == 0;
}

OutputFile::~OutputFile()
{
    Close();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

OutputFile OutputFile::CreateNew(const Folder& folder, const QString& name, bool readOnly, FsError* error)
{
    const QByteArray native = QFile::encodeName(name);
    if (folder.m_fd < 0 || !isSingleName(native)) {
        report(error, FsError::Other);
        return {};
    }
    int fd;
    do
        fd = openat(folder.m_fd, native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    readOnly ? 0444 : 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        report(error, fromErrno(errno));
        return {};
    }
    report(error, FsError::None);
    return OutputFile(fd);
}

OutputFile OutputFile::Create(const Folder& folder, const QString& name, bool readOnly, FsError* error)
{
    const QByteArray native = QFile::encodeName(name);
    if (folder.m_fd < 0 || !isSingleName(native)) {
        report(error, FsError::Other);
        return {};
    }
    const mode_t mode = readOnly ? 0444 : 0666;
    int fd;
    do
        fd = openat(folder.m_fd, native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    mode);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        report(error, FsError::None);
        return OutputFile(fd);
    }
    if (errno != EEXIST) {
        report(error, fromErrno(errno));
        return {};
    }

    // Something has the name already. Only a regular file may be replaced; looking first keeps
    // devices and pipes from ever being opened, and the check after opening catches a swap.
    struct stat before
    {
    };
    if (fstatat(folder.m_fd, native.constData(), &before, AT_SYMLINK_NOFOLLOW) != 0) {
        report(error, fromErrno(errno));
        return {};
    }
    if (S_ISLNK(before.st_mode)) {
        report(error, FsError::Link);
        return {};
    }
    if (!S_ISREG(before.st_mode)) {
        report(error, FsError::NotRegularFile);
        return {};
    }
    if (!(before.st_mode & S_IWUSR)) {
        report(error, FsError::ReadOnly);
        return {};
    }
    do
        fd = openat(folder.m_fd, native.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        report(error, errno == EACCES ? FsError::ReadOnly : fromErrno(errno));
        return {};
    }
    OutputFile file(fd);
    struct stat now
    {
    };
    if (fstat(fd, &now) != 0 || !S_ISREG(now.st_mode) || now.st_ino != before.st_ino
        || now.st_dev != before.st_dev || !(now.st_mode & S_IWUSR)) {
        report(error, FsError::NotRegularFile);
        return {};
    }
    if (ftruncate(fd, 0) != 0) {
        report(error, fromErrno(errno));
        return {};
    }
    if (readOnly && fchmod(fd, now.st_mode & 07777 & ~mode_t(0222)) != 0) {
        report(error, fromErrno(errno));
        return {};
    }
    report(error, FsError::None);
    return file;
}

bool OutputFile::Write(const char* data, qint64 size, FsError* error)
{
    while (size > 0) {
        const ssize_t done = ::write(m_fd, data, size_t(size));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            report(error, fromErrno(errno));
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

bool OutputFile::SetTimes(qint64 accessNs, qint64 modificationNs)
{
    if (m_fd < 0)
        return false;
    timespec times[2];
    const qint64 values[2] = {accessNs, modificationNs};
    for (int i = 0; i < 2; ++i) {
        if (values[i] == 0) {
            times[i].tv_sec = 0;
            times[i].tv_nsec = UTIME_OMIT;
        } else {
            // Floor division, so that times before 1970 keep a nanosecond part in range.
            qint64 seconds = values[i] / 1000000000;
            qint64 nanos = values[i] % 1000000000;
            if (nanos < 0) {
                nanos += 1000000000;
                --seconds;
            }
            times[i].tv_sec = time_t(seconds);
            times[i].tv_nsec = long(nanos);
        }
    }
    return futimens(m_fd, times) == 0;
}

void OutputFile::Close()
{
    closeFd(m_fd);
}

qint64 AvailableBytes(const QString& path)
{
    QByteArray native = QFile::encodeName(path);
    if (native.isEmpty())
        return -1;
    // The nearest level that exists tells the disk a path that does not exist yet would be on.
    for (;;) {
        struct statvfs info
        {
        };
        if (statvfs(native.constData(), &info) == 0)
            return qint64(info.f_bavail) * qint64(info.f_frsize);
        if ((errno != ENOENT && errno != ENOTDIR) || native == "/" || native == ".")
            return -1;
        while (native.size() > 1 && native.endsWith('/'))
            native.chop(1);
        const qsizetype cut = native.lastIndexOf('/');
        native = cut > 0 ? native.left(cut) : cut == 0 ? QByteArray("/") : QByteArray(".");
    }
}

} // namespace platform
