#pragma once
// Entry-level reading of a ZIP archive on disk: lists entries with cleaned names, attributes
// and times, and writes one entry at a time below a base folder, streaming its data through
// one small buffer. The container format itself is minizip's and zlib's business.

#include "entrymeta.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

struct ZipEntryInfo {
    int index = 0;        // position from 0; the entry count for the query with index -1
    QString name;         // cleaned name, levels separated by '/' or '\' as stored
    quint32 attributes = 0; // FileAttribute bits
    qint64 accessTime = 0; // file times: 100-ns units since 1601-01-01 UTC
    qint64 creationTime = 0;
    qint64 modificationTime = 0;
    qint64 compressedSize = 0;
    qint64 uncompressedSize = 0;
};

class ZipReader
{
public:
    enum class Result { Ok, BadArguments, CannotCreateFile, Password, CorruptData, WriteError };

    // None when the file cannot be opened or holds no ZIP central directory.
    static std::unique_ptr<ZipReader> Open(const QString& archivePath);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // A separator is appended when the folder ends in neither '\' nor '/'.
    void SetBaseFolder(const QString& folder);
    QString BaseFolder() const;

    // Index -1 is the count query; none for other indexes out of range or unreadable headers.
    std::optional<ZipEntryInfo> GetEntry(int index);
    std::optional<int> EntryCount();

    // Writes entry `index` below the base folder as `targetName`.
    Result ExtractEntry(int index, const QString& targetName);

    // Releases the archive and the buffer; every later call fails.
    void Close();

private:
    explicit ZipReader(void* handle);
    bool GoToEntry(int index);
    std::optional<ZipEntryInfo> ReadCurrentEntry(int index);
    Result CopyEntryData(const QString& targetPath, const ZipEntryInfo& info);

    void* m_zip = nullptr;   // none for an open empty archive
    bool m_open = false;
    QString m_base;
    int m_current = -1;      // entry the library is positioned on
    std::optional<int> m_count;
    std::optional<ZipEntryInfo> m_last; // answer to the latest GetEntry
    bool m_lastEncrypted = false;
    std::optional<QString> m_lastFolder; // folder part of the latest file entry, made already
    QByteArray m_scratch;    // names and local extra fields, each at most 65535 bytes
    std::unique_ptr<char[]> m_buffer; // transfer buffer, made on first extraction
};
