#pragma once
// Entry-level reading of a ZIP archive on disk: lists entries with cleaned names, attributes
// and times, and writes one entry at a time below a base folder, streaming its data through
// a few buffers of fixed size. Writes never pass through a link below the base folder.
// minizip reads the directory and the local headers; zlib inflates.

#include "archive/entrymeta.h"
#include "archive/targetfolders.h"

#include <QByteArray>
#include <QString>

#include <limits>
#include <memory>
#include <optional>

struct ZipEntryInfo
{
    int index = 0;          // position from 0; the entry count for the query with index -1
    QString name;           // cleaned name, levels separated by '/' or '\' as stored
    quint32 attributes = 0; // archive::attributes bits
    qint64 accessTime = 0;  // file times: 100-ns units since 1601-01-01 UTC
    qint64 creationTime = 0;
    qint64 modificationTime = 0;
    qint64 compressedSize = 0;
    qint64 uncompressedSize = 0;
};

namespace archive {

// Where an entry lies in the archive file, for checking that entries do not share bytes and
// for going straight to it.
struct ZipEntryLocation
{
    quint64 directoryPosition = 0; // minizip's position of the central header
    qint64 start = -1;             // local header; -1 when it could not be read
    qint64 dataStart = -1;         // first byte of the compressed data
    qint64 end = -1;               // just after the compressed data
    quint32 crc = 0;
    int method = 0; // 0 stored, 8 deflated
    bool encrypted = false;
};

// The largest size an archive may claim; larger claims are taken as this.
constexpr qint64 kMaxSize = std::numeric_limits<qint64>::max();

// The sum of two sizes, or kMaxSize when it would be larger or either is negative (unknown).
qint64 AddSizes(qint64 a, qint64 b);

struct ZipLayout;
class EntryDataReader;
class Staging;

} // namespace archive

class ZipReader
{
public:
    // LinkInPath: the target, or a folder on the way to it, is a link. NoSpace: the disk or
    // the user's quota is full; any other failed write is a WriteError.
    enum class Result {
        Ok,
        BadArguments,
        CannotCreateFile,
        Password,
        CorruptData,
        WriteError,
        LinkInPath,
        NoSpace
    };

    // None when the file cannot be opened or holds no ZIP central directory.
    static std::unique_ptr<ZipReader> Open(const QString& archivePath);

    // Another reader of the same archive, with a handle of its own (for another thread); the
    // base folder is not carried over. None when the archive cannot be opened again.
    std::unique_ptr<ZipReader> Reopen() const;
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // A separator is appended when the folder ends in neither '\' nor '/'.
    void SetBaseFolder(const QString& folder);
    QString BaseFolder() const;

    // Index -1 is the count query; none for other indexes out of range or unreadable headers.
    std::optional<ZipEntryInfo> GetEntry(int index);
    std::optional<int> EntryCount();

    // Where entry `index` lies; none as for GetEntry.
    std::optional<archive::ZipEntryLocation> GetLocation(int index);

    // Writes entry `index` below the base folder as `targetName`.
    Result ExtractEntry(int index, const QString& targetName);

    // The same for an entry listed earlier by this reader or the one it was reopened from,
    // going straight to it instead of walking the directory.
    Result ExtractListed(const ZipEntryInfo& info, const archive::ZipEntryLocation& where,
                         const QString& targetName);

    // From now on files are written under hidden names beside their targets and noted in
    // `staging`, which moves them into place (null: written in place).
    void SetStaging(archive::Staging* staging);

    // Releases the archive and the buffer; every later call fails.
    void Close();

private:
    ZipReader(void* handle, std::shared_ptr<const archive::ZipLayout> layout);
    bool GoToEntry(int index);
    bool ReadCurrentEntry(int index);
    Result ExtractPositioned(const ZipEntryInfo& info, const archive::ZipEntryLocation& where,
                             const QString& targetName);
    Result CopyEntryData(const platform::Folder& folder, const QString& folderPart, const QString& fileName,
                         const ZipEntryInfo& info, const archive::ZipEntryLocation& where);
    Result CreateTarget(const platform::Folder& folder, const QString& folderPart, const QString& fileName,
                        const ZipEntryInfo& info, platform::OutputFile* file);
    Result Unpack(platform::OutputFile& file, const ZipEntryInfo& info,
                  const archive::ZipEntryLocation& where);

    void* m_zip = nullptr; // none for an open empty archive
    std::shared_ptr<const archive::ZipLayout> m_layout;
    bool m_open = false;
    QString m_base;
    int m_current = -1; // entry the library is positioned on, -1 when unknown
    std::optional<int> m_count;
    std::optional<ZipEntryInfo> m_last; // answer to the latest GetEntry
    archive::ZipEntryLocation m_lastLocation;
    archive::TargetFolders m_folders;
    archive::Staging* m_staging = nullptr;
    QByteArray m_scratch; // names and local extra fields, each at most 65535 bytes
    // Entry data is read and inflated here rather than through the library, whose 16 KiB
    // steps and byte-wise copying of stored data cost more than the inflating itself.
    std::unique_ptr<archive::EntryDataReader> m_data;
};
