#include "zipreader.h"

#include "entryname.h"
#include "folders.h"
#include "paths.h"

#include <QFile>
#include <QFileInfo>

#include <minizip/unzip.h>

#include <cstdio>

namespace {

constexpr int kBufferSize = 16384;
constexpr int kScratchSize = 65536;
constexpr size_t kArchiveReadAhead = 65536;
constexpr uLong kFlagEncrypted = 0x0001;
constexpr uLong kFlagUtf8Name = 0x0800;

unzFile Handle(void* zip)
{
    return static_cast<unzFile>(zip);
}

bool IsSeparator(QChar ch)
{
    return ch == u'\\' || ch == u'/';
}

// Read-only on Linux: nobody may write. The check is ours rather than the kernel's so that
// it also holds for root, as the read-only attribute does on Windows.
bool IsReadOnlyFile(const QFileInfo& info)
{
    return info.isFile() && !(info.permissions() & QFileDevice::WriteOwner);
}

constexpr QFileDevice::Permissions kAnyWrite =
    QFileDevice::WriteOwner | QFileDevice::WriteUser | QFileDevice::WriteGroup | QFileDevice::WriteOther;

// minizip never looks for the end record at the very start of the file, so it refuses the
// one archive that consists of nothing else: the empty one.
bool IsEmptyArchive(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 22 || file.size() > 22 + 0xFFFF)
        return false;
    const QByteArray head = file.read(22);
    if (head.size() != 22)
        return false;
    const auto* p = reinterpret_cast<const uchar*>(head.constData());
    const int commentLength = p[20] | (p[21] << 8);
    return head.startsWith("PK\x05\x06") && QByteArrayView(head).sliced(4, 16) == QByteArray(16, '\0')
        && file.size() == 22 + commentLength;
}

// The library's stdio streams read 4 KiB at a time and start over after every seek; a larger
// read-ahead serves the central directory and the local headers from memory.
voidpf ZCALLBACK OpenWithReadAhead(voidpf opaque, const void* filename, int mode)
{
    const auto open = reinterpret_cast<open64_file_func>(opaque);
    voidpf stream = open(nullptr, filename, mode);
    if (stream)
        std::setvbuf(static_cast<FILE*>(stream), nullptr, _IOFBF, kArchiveReadAhead);
    return stream;
}

} // namespace

std::unique_ptr<ZipReader> ZipReader::Open(const QString& archivePath)
{
    if (archivePath.isEmpty())
        return nullptr;
    const QString native = platform::NativePath(archivePath);
    if (QFileInfo(native).isDir())
        return nullptr;
    zlib_filefunc64_def io;
    fill_fopen64_filefunc(&io);
    io.opaque = reinterpret_cast<voidpf>(io.zopen64_file);
    io.zopen64_file = OpenWithReadAhead;
    if (unzFile zip = unzOpen2_64(QFile::encodeName(native).constData(), &io))
        return std::unique_ptr<ZipReader>(new ZipReader(zip));
    if (IsEmptyArchive(native))
        return std::unique_ptr<ZipReader>(new ZipReader(nullptr));
    return nullptr;
}

ZipReader::ZipReader(void* handle)
    : m_zip(handle)
    , m_open(true)
    , m_scratch(kScratchSize, Qt::Uninitialized)
{
    if (!m_zip)
        m_count = 0;
}

ZipReader::~ZipReader()
{
    Close();
}

void ZipReader::SetBaseFolder(const QString& folder)
{
    m_lastFolder.reset();
    m_base = folder;
    if (m_base.isEmpty() || !IsSeparator(m_base.back()))
        m_base.append(u'\\');
}

QString ZipReader::BaseFolder() const
{
    return m_base;
}

std::optional<int> ZipReader::EntryCount()
{
    if (!m_open)
        return std::nullopt;
    if (!m_count) {
        unz_global_info64 global{};
        if (unzGetGlobalInfo64(Handle(m_zip), &global) != UNZ_OK || global.number_entry > 0x7FFFFFFF)
            return std::nullopt;
        m_count = int(global.number_entry);
    }
    return m_count;
}

bool ZipReader::GoToEntry(int index)
{
    unzFile zip = Handle(m_zip);
    if (m_current < 0 || index < m_current) {
        m_current = -1;
        if (unzGoToFirstFile(zip) != UNZ_OK)
            return false;
        m_current = 0;
    }
    while (m_current < index) {
        if (unzGoToNextFile(zip) != UNZ_OK) {
            m_current = -1;
            return false;
        }
        ++m_current;
    }
    return true;
}

std::optional<ZipEntryInfo> ZipReader::GetEntry(int index)
{
    if (!m_open || index < -1)
        return std::nullopt;
    if (m_last && m_last->index == index)
        return m_last;
    const std::optional<int> count = EntryCount();
    if (!count)
        return std::nullopt;
    if (index == -1) {
        ZipEntryInfo info;
        info.index = *count;
        return info;
    }
    if (index >= *count || !GoToEntry(index))
        return std::nullopt;
    m_last = ReadCurrentEntry(index);
    return m_last;
}

std::optional<ZipEntryInfo> ZipReader::ReadCurrentEntry(int index)
{
    unzFile zip = Handle(m_zip);
    unz_file_info64 header{};
    if (unzGetCurrentFileInfo64(zip, &header, m_scratch.data(), kScratchSize, nullptr, 0, nullptr, 0) != UNZ_OK)
        return std::nullopt;
    const qsizetype nameLength = qMin<qsizetype>(header.size_filename, kScratchSize - 1);

    ZipEntryInfo info;
    info.index = index;
    info.name = CleanEntryName(DecodeEntryName(QByteArrayView(m_scratch.constData(), nameLength),
                                               header.flag & kFlagUtf8Name));
    info.attributes = EntryAttributes(quint16(header.version), quint32(header.external_fa));
    info.compressedSize = qint64(header.compressed_size);
    m_lastEncrypted = header.flag & kFlagEncrypted;
    info.uncompressedSize = qint64(header.uncompressed_size);

    EntryTimes times;
    times.modification = times.access = times.creation = DosDateTimeToFileTime(quint32(header.dosDate));
    // The local header's extra field is only reachable with the entry open; raw mode keeps
    // the library from setting up decompression (and from minding unknown methods).
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(zip, &method, &level, 1) == UNZ_OK) {
        const int extraLength = unzGetLocalExtrafield(zip, m_scratch.data(), kScratchSize);
        if (extraLength > 0)
            ApplyExtendedTimestamp(QByteArrayView(m_scratch.constData(), extraLength), times);
        unzCloseCurrentFile(zip);
    }
    info.modificationTime = times.modification;
    info.accessTime = times.access;
    info.creationTime = times.creation;
    return info;
}

ZipReader::Result ZipReader::ExtractEntry(int index, const QString& targetName)
{
    const std::optional<int> count = EntryCount();
    if (!count || index < 0 || index >= *count)
        return Result::BadArguments;
    unzCloseCurrentFile(Handle(m_zip));
    // The target must stay below the base folder whoever chose it.
    if (CleanEntryName(targetName) != targetName || targetName.contains(QChar(u'\0')))
        return Result::BadArguments;
    const std::optional<ZipEntryInfo> info = GetEntry(index);
    if (!info || !GoToEntry(index))
        return Result::CorruptData;

    if (info->attributes & FileAttribute::Directory) {
        EnsureFolder(m_base, targetName);
        return Result::Ok;
    }

    qsizetype split = targetName.size();
    while (split > 0 && !IsSeparator(targetName[split - 1]))
        --split;
    // Packs hold runs of files in one folder; that folder needs checking once per run, and
    // again only when a file cannot be created in it.
    const QString folder = targetName.left(split);
    const bool known = m_lastFolder && *m_lastFolder == folder;
    if (!known)
        EnsureFolder(m_base, folder);
    m_lastFolder = folder;
    const QString target = platform::NativePath(m_base + targetName);
    Result result = CopyEntryData(target, *info);
    if (result == Result::CannotCreateFile && known) {
        EnsureFolder(m_base, folder);
        result = CopyEntryData(target, *info);
    }
    return result;
}

ZipReader::Result ZipReader::CopyEntryData(const QString& targetPath, const ZipEntryInfo& info)
{
    unzFile zip = Handle(m_zip);
    if (IsReadOnlyFile(QFileInfo(targetPath)))
        return Result::CannotCreateFile;
    // Entries that cannot be read at all fail before an existing file is truncated. Without
    // a password the library would hand out the enciphered bytes as data.
    if (m_lastEncrypted)
        return Result::Password;
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return Result::CorruptData;

    QFile file(targetPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        unzCloseCurrentFile(zip);
        return Result::CannotCreateFile;
    }
    if (info.attributes & FileAttribute::ReadOnly)
        file.setPermissions(file.permissions() & ~kAnyWrite);
    if (!m_buffer)
        m_buffer = std::make_unique<char[]>(kBufferSize);

    Result result = Result::Ok;
    quint64 written = 0;
    for (;;) {
        const int got = unzReadCurrentFile(zip, m_buffer.get(), kBufferSize);
        if (got < 0) {
            result = Result::CorruptData;
            break;
        }
        if (got == 0) {
            // The library stops quietly at the end of the compressed data; only the full
            // declared size counts as the end of the entry.
            if (qint64(written) != info.uncompressedSize)
                result = Result::CorruptData;
            break;
        }
        if (file.write(m_buffer.get(), got) != got) {
            result = Result::WriteError;
            break;
        }
        written += quint64(got);
    }
    // Closing checks the CRC once all data has been read.
    if (unzCloseCurrentFile(zip) != UNZ_OK && result == Result::Ok)
        result = Result::CorruptData;
    // A time of 0 means the archive gave none that makes sense; the file keeps the present one.
    if (result == Result::Ok && info.modificationTime != 0)
        file.setFileTime(FileTimeToDateTime(info.modificationTime), QFileDevice::FileModificationTime);
    if (result == Result::Ok && info.accessTime != 0)
        file.setFileTime(FileTimeToDateTime(info.accessTime), QFileDevice::FileAccessTime);
    return result;
}

void ZipReader::Close()
{
    if (m_zip) {
        unzCloseCurrentFile(Handle(m_zip));
        unzClose(Handle(m_zip));
        m_zip = nullptr;
    }
    m_open = false;
    m_lastFolder.reset();
    m_buffer.reset();
    m_last.reset();
    m_count.reset();
    m_current = -1;
}
