#include "platform/fileio.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

qint64 nanoseconds(const timespec& t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileIdentity identityOf(const struct stat& st)
{
    FileIdentity id;
    id.device = quint64(st.st_dev);
    id.inode = quint64(st.st_ino);
    id.size = qint64(st.st_size);
    id.modifiedNs = nanoseconds(st.st_mtim);
    id.changedNs = nanoseconds(st.st_ctim);
    return id;
}

bool isMissingError(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

} // namespace

FileStatus StatFile(const QString& path)
{
    FileStatus status;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        status.kind = isMissingError(errno) ? FileKind::Missing : FileKind::Unreadable;
        return status;
    }
    status.kind = S_ISREG(st.st_mode) ? FileKind::Regular : FileKind::Other;
    status.identity = identityOf(st);
    return status;
}

FileContent ReadRegularFile(const QString& path, qint64 maxSize)
{
    FileContent content;
    content.startedNs = WallClockNs();
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer forever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        content.status = isMissingError(errno) ? FileReadStatus::Missing : FileReadStatus::Failed;
        return content;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return content;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        content.status = FileReadStatus::NotRegular;
        return content;
    }
    if (st.st_size > maxSize) {
        ::close(fd);
        content.status = FileReadStatus::TooLarge;
        return content;
    }

    // Read to the end rather than to the size seen: the file may have grown since the fstat.
    QByteArray data(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qint64 filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (filled > maxSize) {
                ::close(fd);
                content.status = FileReadStatus::TooLarge;
                return content;
            }
            data.resize(qsizetype(qMin<qint64>(maxSize + 1, qMax<qint64>(filled * 2, 4096))));
        }
        const ssize_t n = ::read(fd, data.data() + filled, size_t(data.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return content;
        }
        if (n == 0)
            break;
        filled += n;
    }
    if (filled > maxSize) {
        ::close(fd);
        content.status = FileReadStatus::TooLarge;
        return content;
    }
    const bool statted = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!statted)
        return content;
    data.truncate(qsizetype(filled));
    content.data = std::move(data);
    content.identity = identityOf(st);
    content.status = FileReadStatus::Ok;
    return content;
}

qint64 WallClockNs()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

qint64 FileTimeTickNs(const FileIdentity& identity)
{
    // The kernel stamps files from its coarse clock (one timer tick, 1-10 ms); 20 ms covers
    // every tick rate. Times without a fraction of a second come from a file system that keeps
    // whole seconds (or FAT's two), where versions can share their times far longer.
    constexpr qint64 kSecond = 1000000000;
    if (identity.modifiedNs % kSecond == 0 && identity.changedNs % kSecond == 0)
        return 2 * kSecond + kSecond / 10;
    return 20 * 1000000;
}

FileLock::FileLock(const QString& lockPath)
    : m_path(lockPath)
{
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the last descriptor of the open file releases the lock
}

bool FileLock::Acquire(int timeoutMs)
{
    if (m_held)
        return true;
    m_busy = false;
    if (m_fd < 0) {
        m_fd = ::open(QFile::encodeName(m_path).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
        if (m_fd < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        struct stat st;
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            m_error = QStringLiteral("not a regular file");
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
    }
    // flock has no time-out of its own: poll, starting fine and backing off to 2 ms, so that a
    // stopped or hung holder costs the caller a bounded wait instead of the interface thread.
    const QDeadlineTimer deadline(timeoutMs); // monotonic: a clock change neither stretches nor cuts it
    long pauseNs = 50000;
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (deadline.hasExpired()) {
            m_busy = true;
            m_error = QStringLiteral("timed out waiting for the lock");
            return false;
        }
        const timespec pause{0, pauseNs};
        nanosleep(&pause, nullptr);
        pauseNs = qMin(pauseNs * 2, 2000000L);
    }
}

bool FileLock::IsHeld() const
{
    return m_held;
}

bool FileLock::IsBusy() const
{
    return m_busy;
}

QString FileLock::ErrorString() const
{
    return m_error;
}

} // namespace platform
