#include "archive/zipview.h"

#include <QFile>

#include <minizip/unzip.h>

#include <cstring>

namespace archive {

namespace {

constexpr qint64 kEndRecordSize = 22;
constexpr qint64 kMaxComment = 0xFFFF;
constexpr qint64 kMaxCachedDirectory = 4 << 20;
// Headers lie anywhere in the file and are short: a small read wastes least. A read that goes
// on where the last one ended (a long name or extra field) gets a larger read-ahead.
constexpr qint64 kSequentialFill = 64 << 10;
constexpr qint64 kRandomFill = 1024;

quint32 le16(const char* p)
{
    const auto* u = reinterpret_cast<const uchar*>(p);
    return quint32(u[0]) | (quint32(u[1]) << 8);
}

quint32 le32(const char* p)
{
    return le16(p) | (le16(p + 2) << 16);
}

struct ViewStream
{
    std::shared_ptr<const ZipLayout> layout;
    QFile file;
    qint64 pos = 0;
    std::unique_ptr<char[]> buffer;
    qint64 bufferStart = 0;
    qint64 bufferLength = 0;
    qint64 lastEnd = -1;
    bool failed = false;

    bool ReadAt(qint64 at, char* into, qint64 size)
    {
        if (!file.seek(at) || file.read(into, size) != size) {
            failed = true;
            return false;
        }
        return true;
    }

    qint64 Read(char* into, qint64 wanted)
    {
        const qint64 end = layout->end;
        qint64 done = 0;
        wanted = qMin(wanted, qMax<qint64>(0, end - pos));
        const QByteArray* directory = layout->directory.get();
        while (done < wanted) {
            const qint64 at = pos + done;
            const qint64 rest = wanted - done;
            if (directory && at >= layout->directoryStart
                && at < layout->directoryStart + directory->size()) {
                const qint64 from = at - layout->directoryStart;
                const qint64 n = qMin(rest, qint64(directory->size()) - from);
                std::memcpy(into + done, directory->constData() + from, size_t(n));
                done += n;
            } else if (at >= bufferStart && at < bufferStart + bufferLength) {
                const qint64 n = qMin(rest, bufferStart + bufferLength - at);
                std::memcpy(into + done, buffer.get() + (at - bufferStart), size_t(n));
                done += n;
            } else if (rest >= kSequentialFill) {
                if (!ReadAt(at, into + done, rest))
                    break;
                done += rest;
            } else {
                const bool sequential = at == lastEnd || done > 0;
                const qint64 fill = qMin(sequential ? kSequentialFill : kRandomFill, end - at);
                if (!buffer)
                    buffer = std::make_unique<char[]>(size_t(kSequentialFill));
                bufferLength = 0;
                if (!ReadAt(at, buffer.get(), fill))
                    break;
                bufferStart = at;
                bufferLength = fill;
            }
        }
        pos += done;
        lastEnd = pos;
        return done;
    }
};

voidpf ZCALLBACK viewOpen(voidpf opaque, const void*, int mode)
{
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    const auto& layout = *static_cast<const std::shared_ptr<const ZipLayout>*>(opaque);
    auto stream = std::make_unique<ViewStream>();
    stream->layout = layout;
    stream->file.setFileName(layout->nativePath);
    if (!stream->file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return nullptr;
    return stream.release();
}

uLong ZCALLBACK viewRead(voidpf, voidpf stream, void* buf, uLong size)
{
    return uLong(static_cast<ViewStream*>(stream)->Read(static_cast<char*>(buf), qint64(size)));
}

uLong ZCALLBACK viewWrite(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZCALLBACK viewTell(voidpf, voidpf stream)
{
    return ZPOS64_T(static_cast<ViewStream*>(stream)->pos);
}

long ZCALLBACK viewSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* s = static_cast<ViewStream*>(stream);
    qint64 base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = s->pos;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = s->layout->end;
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    // minizip passes backward moves from the end as wrapped-around unsigned values.
    const qint64 target = base + qint64(offset);
    if (target < 0)
        return -1;
    s->pos = target;
    return 0;
}

int ZCALLBACK viewClose(voidpf, voidpf stream)
{
    delete static_cast<ViewStream*>(stream);
    return 0;
}

int ZCALLBACK viewError(voidpf, voidpf stream)
{
    return static_cast<ViewStream*>(stream)->failed ? 1 : 0;
}

} // namespace

std::unique_ptr<ZipLayout> FindZipLayout(const QString& nativePath)
{
    QFile file(nativePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return nullptr;
    const qint64 size = file.size();
    if (size < kEndRecordSize)
        return nullptr;
    const qint64 tailStart = size - qMin(size, kEndRecordSize + kMaxComment);
    if (!file.seek(tailStart))
        return nullptr;
    const QByteArray tail = file.read(size - tailStart);
    if (tail.size() != size - tailStart)
        return nullptr;

    qint64 found = -1;
    bool exact = false;
    for (qint64 i = tail.size() - kEndRecordSize; i >= 0; --i) {
        const char* p = tail.constData() + i;
        if (std::memcmp(p, "PK\x05\x06", 4) != 0)
            continue;
        if (found < 0)
            found = i;
        if (i + kEndRecordSize + le16(p + 20) == tail.size()) {
            found = i;
            exact = true;
            break;
        }
    }
    if (found < 0)
        return nullptr;

    auto layout = std::make_unique<ZipLayout>();
    layout->nativePath = nativePath;
    layout->endRecord = tailStart + found;
    layout->end = layout->endRecord + kEndRecordSize;
    const char* record = tail.constData() + found;
    layout->empty = exact && layout->endRecord == 0 && QByteArrayView(record + 4, 16) == QByteArray(16, '\0');

    // A ZIP64 archive keeps its real directory figures elsewhere; minizip finds them itself.
    const qint64 directorySize = le32(record + 12);
    const bool zip64 = found >= 20 && std::memcmp(record - 20, "PK\x06\x07", 4) == 0;
    if (!zip64 && directorySize > 0 && directorySize <= kMaxCachedDirectory
        && directorySize <= layout->endRecord) {
        const qint64 start = layout->endRecord - directorySize;
        QByteArray directory;
        if (start >= tailStart) {
            directory = tail.mid(start - tailStart, directorySize);
        } else if (file.seek(start)) {
            directory = file.read(directorySize);
        }
        if (directory.size() == directorySize) {
            layout->directoryStart = start;
            layout->directory = std::make_shared<const QByteArray>(std::move(directory));
        }
    }
    return layout;
}

void* OpenZipHandle(const std::shared_ptr<const ZipLayout>& layout)
{
    if (!layout || layout->empty)
        return nullptr;
    zlib_filefunc64_def io{};
    io.zopen64_file = viewOpen;
    io.zread_file = viewRead;
    io.zwrite_file = viewWrite;
    io.ztell64_file = viewTell;
    io.zseek64_file = viewSeek;
    io.zclose_file = viewClose;
    io.zerror_file = viewError;
    io.opaque = const_cast<std::shared_ptr<const ZipLayout>*>(&layout);
    const QByteArray name = QFile::encodeName(layout->nativePath);
    return unzOpen2_64(name.constData(), &io);
}

} // namespace archive
