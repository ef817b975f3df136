#include "archive/zipreader.h"

#include "archive/archivelog.h"
#include "archive/entrydata.h"
#include "archive/entryname.h"
#include "archive/staging.h"
#include "archive/zipview.h"
#include "platform/nativepaths.h"

#include <QFileInfo>
#include <QtEndian>

#include <minizip/unzip.h>

namespace {

constexpr int kScratchSize = 65536;
constexpr uLong kFlagEncrypted = 0x0001;
constexpr uLong kFlagUtf8Name = 0x0800;
constexpr qint64 kLocalHeaderSize = 30;
constexpr int kStored = 0;
constexpr int kDeflated = 8;
constexpr qint64 kFileTimeUnixEpoch = 116444736000000000LL;

unzFile asUnzFile(void* zip)
{
    return static_cast<unzFile>(zip);
}

qint64 fileTimeToUnixNs(qint64 fileTime)
{
    return fileTime == 0 ? 0 : (fileTime - kFileTimeUnixEpoch) * 100;
}

constexpr quint64 kNoSize32 = 0xFFFFFFFF;

// minizip 1.1 looks for the 64-bit sizes of the central header's extra field only when a
// 32-bit field reads as an all-ones 64-bit value, which on LP64 it never does: they are read
// here. In the block, each size is present when its 32-bit field is all ones.
void readZip64Sizes(unzFile zip, unz_file_info64& header)
{
    QByteArray extra(qsizetype(header.size_file_extra), Qt::Uninitialized);
    unz_file_info64 again{};
    if (extra.isEmpty()
        || unzGetCurrentFileInfo64(zip, &again, nullptr, 0, extra.data(), uLong(extra.size()), nullptr, 0)
            != UNZ_OK)
        return;
    for (qsizetype at = 0; at + 4 <= extra.size();) {
        const quint16 tag = qFromLittleEndian<quint16>(extra.constData() + at);
        const qsizetype size = qFromLittleEndian<quint16>(extra.constData() + at + 2);
        qsizetype field = at + 4;
        const qsizetype end = qMin(field + size, extra.size());
        if (tag == 1) {
            for (ZPOS64_T* value : {&header.uncompressed_size, &header.compressed_size}) {
                if (*value != kNoSize32)
                    continue;
                if (field + 8 > end)
                    break;
                *value = qFromLittleEndian<quint64>(extra.constData() + field);
                field += 8;
            }
            return;
        }
        at = field + size;
    }
}

} // namespace

namespace archive {

qint64 AddSizes(qint64 a, qint64 b)
{
    if (a < 0 || b < 0)
        return kMaxSize;
    return b > kMaxSize - a ? kMaxSize : a + b;
}

} // namespace archive

std::unique_ptr<ZipReader> ZipReader::Open(const QString& archivePath)
{
    if (archivePath.isEmpty())
        return nullptr;
    const QString native = platform::NativePath(archivePath);
    if (QFileInfo(native).isDir())
        return nullptr;
    std::shared_ptr<const archive::ZipLayout> layout = archive::FindZipLayout(native);
    if (!layout)
        return nullptr;
    // minizip never looks for the end record at the very start of the file, so it refuses the
    // one archive that consists of nothing else: the empty one.
    if (layout->empty)
        return std::unique_ptr<ZipReader>(new ZipReader(nullptr, layout));
    if (void* zip = archive::OpenZipHandle(layout))
        return std::unique_ptr<ZipReader>(new ZipReader(zip, layout));
    return nullptr;
}

std::unique_ptr<ZipReader> ZipReader::Reopen() const
{
    if (!m_open)
        return nullptr;
    void* zip = nullptr;
    if (m_zip && !(zip = archive::OpenZipHandle(m_layout)))
        return nullptr;
    std::unique_ptr<ZipReader> other(new ZipReader(zip, m_layout));
    other->m_count = m_count;
    return other;
}

ZipReader::ZipReader(void* handle, std::shared_ptr<const archive::ZipLayout> layout)
    : m_zip(handle)
    , m_layout(std::move(layout))
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
    m_base = folder;
    if (m_base.isEmpty() || !archive::IsNameSeparator(m_base.back()))
        m_base.append(u'\\');
    m_folders.SetBase(platform::NativePath(m_base));
}

void ZipReader::SetStaging(archive::Staging* staging)
{
    m_staging = staging;
    m_folders.SetJournal(staging);
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
        if (unzGetGlobalInfo64(asUnzFile(m_zip), &global) != UNZ_OK || global.number_entry > 0x7FFFFFFF)
            return std::nullopt;
        m_count = int(global.number_entry);
    }
    return m_count;
}

bool ZipReader::GoToEntry(int index)
{
    unzFile zip = asUnzFile(m_zip);
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
    if (index >= *count || !GoToEntry(index) || !ReadCurrentEntry(index))
        return std::nullopt;
    return m_last;
}

std::optional<archive::ZipEntryLocation> ZipReader::GetLocation(int index)
{
    if (index < 0 || !GetEntry(index))
        return std::nullopt;
    return m_lastLocation;
}

bool ZipReader::ReadCurrentEntry(int index)
{
    m_last.reset();
    unzFile zip = asUnzFile(m_zip);
    unz_file_info64 header{};
    if (unzGetCurrentFileInfo64(zip, &header, m_scratch.data(), kScratchSize, nullptr, 0, nullptr, 0)
        != UNZ_OK)
        return false;
    const qsizetype nameLength = qMin<qsizetype>(header.size_filename, kScratchSize - 1);

    ZipEntryInfo info;
    info.index = index;
    info.name = archive::CleanEntryName(archive::DecodeEntryName(
        QByteArrayView(m_scratch.constData(), nameLength), header.flag & kFlagUtf8Name));
    info.attributes = archive::EntryAttributes(quint16(header.version), quint32(header.external_fa));
    if (header.compressed_size == kNoSize32 || header.uncompressed_size == kNoSize32)
        readZip64Sizes(zip, header);
    // 64-bit sizes come from the archive as they are: beyond what a signed size holds they are
    // taken as the most it holds, which no disk and no archive file has.
    info.compressedSize = qint64(qMin<quint64>(header.compressed_size, quint64(archive::kMaxSize)));
    info.uncompressedSize = qint64(qMin<quint64>(header.uncompressed_size, quint64(archive::kMaxSize)));

    archive::ZipEntryLocation where;
    where.directoryPosition = unzGetOffset64(zip);
    where.encrypted = header.flag & kFlagEncrypted;
    where.crc = quint32(header.crc);
    where.method = int(header.compression_method);

    archive::EntryTimes times;
    times.modification = times.access = times.creation = archive::DosDateTimeToFileTime(
        quint32(header.dosDate));
    // The local header's extra field is only reachable with the entry open; raw mode keeps
    // the library from setting up decompression (and from minding unknown methods).
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(zip, &method, &level, 1) == UNZ_OK) {
        const int extraLength = unzGetLocalExtrafield(zip, m_scratch.data(), kScratchSize);
        if (extraLength > 0)
            archive::ApplyExtendedTimestamp(QByteArrayView(m_scratch.constData(), extraLength), times);
        // The library has checked that the local name is as long as the central one.
        const qint64 dataStart = qint64(unzGetCurrentFileZStreamPos64(zip));
        where.dataStart = dataStart;
        where.start = dataStart - kLocalHeaderSize - qint64(header.size_filename) - qMax(0, extraLength);
        where.end = archive::AddSizes(dataStart, info.compressedSize);
        unzCloseCurrentFile(zip);
    }
    info.modificationTime = times.modification;
    info.accessTime = times.access;
    info.creationTime = times.creation;
    m_last = info;
    m_lastLocation = where;
    return true;
}

ZipReader::Result ZipReader::ExtractEntry(int index, const QString& targetName)
{
    const std::optional<int> count = EntryCount();
    if (!count || index < 0 || index >= *count)
        return Result::BadArguments;
    unzCloseCurrentFile(asUnzFile(m_zip));
    // The target must stay below the base folder whoever chose it.
    if (archive::CleanEntryName(targetName) != targetName || targetName.contains(QChar(u'\0')))
        return Result::BadArguments;
    const std::optional<ZipEntryInfo> info = GetEntry(index);
    if (!info || !GoToEntry(index))
        return Result::CorruptData;
    return ExtractPositioned(*info, m_lastLocation, targetName);
}

ZipReader::Result ZipReader::ExtractListed(const ZipEntryInfo& info, const archive::ZipEntryLocation& where,
                                           const QString& targetName)
{
    const std::optional<int> count = EntryCount();
    if (!count || info.index < 0 || info.index >= *count)
        return Result::BadArguments;
    unzCloseCurrentFile(asUnzFile(m_zip));
    if (archive::CleanEntryName(targetName) != targetName || targetName.contains(QChar(u'\0')))
        return Result::BadArguments;
    // Jumping leaves the library unable to step on; the next walk starts from the first entry.
    m_current = -1;
    m_last.reset();
    if (unzSetOffset64(asUnzFile(m_zip), where.directoryPosition) != UNZ_OK)
        return Result::CorruptData;
    return ExtractPositioned(info, where, targetName);
}

ZipReader::Result ZipReader::ExtractPositioned(const ZipEntryInfo& info,
                                               const archive::ZipEntryLocation& where,
                                               const QString& targetName)
{
    platform::FsError error = platform::FsError::None;
    if (info.attributes & archive::attributes::kDirectory) {
        // A folder that cannot be made is no failure by itself: it shows when a file inside it
        // cannot be created. A link on the way is refused at once.
        if (m_folders.Reach(targetName, &error))
            return Result::Ok;
        if (error == platform::FsError::Link)
            return Result::LinkInPath;
        qCWarning(archive::lcArchive) << "cannot make the folder" << targetName << "below" << m_base;
        return Result::Ok;
    }

    qsizetype split = targetName.size();
    while (split > 0 && !archive::IsNameSeparator(targetName[split - 1]))
        --split;
    const QString folderPart = targetName.left(split);
    const QString fileName = targetName.sliced(split);
    // Packs hold runs of files in one folder, which stays open; if it was removed meanwhile,
    // every level is opened (and made) again.
    bool reused = false;
    const platform::Folder* folder = m_folders.Reach(folderPart, &error, &reused);
    if (!folder)
        return archive::RefusalOf(error);
    // A name ending in a separator makes its folder on the way, like any other, and then
    // cannot be a file.
    if (fileName.isEmpty() || fileName == u"." || fileName == u"..")
        return Result::CannotCreateFile;
    Result result = CopyEntryData(*folder, folderPart, fileName, info, where);
    if (result == Result::CannotCreateFile && reused) {
        m_folders.Forget();
        folder = m_folders.Reach(folderPart, &error);
        if (!folder)
            return archive::RefusalOf(error);
        result = CopyEntryData(*folder, folderPart, fileName, info, where);
    }
    return result;
}

ZipReader::Result ZipReader::CreateTarget(const platform::Folder& folder, const QString& folderPart,
                                          const QString& fileName, const ZipEntryInfo& info,
                                          platform::OutputFile* file)
{
    const bool readOnly = info.attributes & archive::attributes::kReadOnly;
    platform::FsError error = platform::FsError::None;
    if (!m_staging) {
        *file = platform::OutputFile::Create(folder, fileName, readOnly, &error);
        return file->IsValid() ? Result::Ok : archive::RefusalOf(error);
    }
    // The target is refused now by the rules that writing in place would apply, before any
    // data is read; the move into place checks it again.
    bool exists = false;
    error = folder.CheckReplaceable(fileName, &exists);
    if (error != platform::FsError::None)
        return archive::RefusalOf(error);
    QString staged;
    for (int attempt = 0; attempt < 3 && !file->IsValid(); ++attempt) {
        staged = m_staging->NewName("part");
        *file = platform::OutputFile::CreateNew(folder, staged, readOnly, &error);
    }
    if (!file->IsValid())
        return archive::RefusalOf(error);
    m_staging->AddFile(info.index, folderPart, fileName, staged);
    return Result::Ok;
}

ZipReader::Result ZipReader::CopyEntryData(const platform::Folder& folder, const QString& folderPart,
                                           const QString& fileName, const ZipEntryInfo& info,
                                           const archive::ZipEntryLocation& where)
{
    // Entries that cannot be read at all fail before an existing file is truncated. Without
    // a password the library would hand out the enciphered bytes as data.
    if (where.encrypted)
        return Result::Password;
    if (where.dataStart < 0 || (where.method != kStored && where.method != kDeflated))
        return Result::CorruptData;

    platform::OutputFile file;
    if (const Result created = CreateTarget(folder, folderPart, fileName, info, &file); created != Result::Ok)
        return created;
    platform::FsError error = platform::FsError::None;
    if (!m_data)
        m_data = std::make_unique<archive::EntryDataReader>(m_layout->nativePath);
    switch (m_data->Copy(where.dataStart, info.compressedSize, info.uncompressedSize, where.method, where.crc,
                         file, &error)) {
    case archive::EntryDataReader::Outcome::Corrupt:
        return Result::CorruptData;
    case archive::EntryDataReader::Outcome::WriteFailed:
        return archive::RefusalOf(error, Result::WriteError);
    case archive::EntryDataReader::Outcome::Ok:
        break;
    }
    // A time of 0 means the archive gave none that makes sense; the file keeps the present one.
    if ((info.modificationTime != 0 || info.accessTime != 0)
        && !file.SetTimes(fileTimeToUnixNs(info.accessTime), fileTimeToUnixNs(info.modificationTime)))
        qCWarning(archive::lcArchive) << "cannot set the times of" << fileName;
    return Result::Ok;
}

void ZipReader::Close()
{
    if (m_zip) {
        unzCloseCurrentFile(asUnzFile(m_zip));
        unzClose(asUnzFile(m_zip));
        m_zip = nullptr;
    }
    m_open = false;
    m_folders.Forget();
    m_data.reset();
    m_last.reset();
    m_count.reset();
    m_current = -1;
}
