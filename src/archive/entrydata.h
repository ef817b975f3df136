#pragma once
// The data of one entry, read straight from the archive file in large runs and inflated with
// zlib into a file being written; the unpacked size and the CRC must match the headers.

#include "platform/confinedfiles.h"

#include <QFile>
#include <QString>

#include <memory>

struct z_stream_s;

namespace archive {

class EntryDataReader
{
public:
    enum class Outcome { Ok, Corrupt, WriteFailed };

    explicit EntryDataReader(const QString& nativeArchivePath);
    ~EntryDataReader();
    EntryDataReader(const EntryDataReader&) = delete;
    EntryDataReader& operator=(const EntryDataReader&) = delete;

    // Method 0 (stored) or 8 (deflated); never writes more than `uncompressedSize` bytes.
    Outcome Copy(qint64 dataStart, qint64 compressedSize, qint64 uncompressedSize, int method, quint32 crc,
                 platform::OutputFile& file, platform::FsError* writeError);

private:
    bool ReadAt(qint64 at, char* into, qint64 size);

    QFile m_file;
    std::unique_ptr<char[]> m_output;
    std::unique_ptr<char[]> m_input;
    std::unique_ptr<z_stream_s> m_stream;
    bool m_streamReady = false;
};

} // namespace archive
