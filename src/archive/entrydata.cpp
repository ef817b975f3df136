#include "archive/entrydata.h"

#include <zlib.h>

namespace archive {

namespace {

// Large enough that writes and reads are few, small enough for several threads at once.
constexpr qint64 kOutputSize = 256 << 10;
constexpr qint64 kInputSize = 128 << 10;

} // namespace

EntryDataReader::EntryDataReader(const QString& nativeArchivePath)
    : m_file(nativeArchivePath)
{
}

EntryDataReader::~EntryDataReader()
{
    if (m_streamReady)
        inflateEnd(m_stream.get());
}

bool EntryDataReader::ReadAt(qint64 at, char* into, qint64 size)
{
    if (!m_file.isOpen() && !m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    return m_file.seek(at) && m_file.read(into, size) == size;
}

EntryDataReader::Outcome EntryDataReader::Copy(qint64 dataStart, qint64 compressedSize,
                                               qint64 uncompressedSize, int method, quint32 crc,
                                               platform::OutputFile& file, platform::FsError* writeError)
{
    if (dataStart < 0 || compressedSize < 0 || uncompressedSize < 0 || (method != 0 && method != Z_DEFLATED))
        return Outcome::Corrupt;
    if (!m_output)
        m_output = std::make_unique<char[]>(size_t(kOutputSize));
    uLong sum = crc32(0, nullptr, 0);
    auto* out = reinterpret_cast<Bytef*>(m_output.get());

    if (method == 0) {
        if (compressedSize != uncompressedSize)
            return Outcome::Corrupt;
        for (qint64 done = 0; done < compressedSize;) {
            const qint64 n = qMin(kOutputSize, compressedSize - done);
            if (!ReadAt(dataStart + done, m_output.get(), n))
                return Outcome::Corrupt;
            sum = crc32_z(sum, out, size_t(n));
            if (!file.Write(m_output.get(), n, writeError))
                return Outcome::WriteFailed;
            done += n;
        }
        return sum == crc ? Outcome::Ok : Outcome::Corrupt;
    }

    if (!m_input)
        m_input = std::make_unique<char[]>(size_t(kInputSize));
    if (!m_stream)
        m_stream = std::make_unique<z_stream_s>(); // value-initialised: zlib wants the fields zero
    z_stream& z = *m_stream;
    if (!m_streamReady) {
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            return Outcome::Corrupt;
        m_streamReady = true;
    } else if (inflateReset(&z) != Z_OK) {
        return Outcome::Corrupt;
    }
    z.avail_in = 0;
    qint64 read = 0;
    qint64 written = 0;
    bool ended = false;
    // The declared size bounds the output, as the free-space check assumed.
    while (written < uncompressedSize && !ended) {
        if (z.avail_in == 0 && read < compressedSize) {
            const qint64 n = qMin(kInputSize, compressedSize - read);
            if (!ReadAt(dataStart + read, m_input.get(), n))
                return Outcome::Corrupt;
            z.next_in = reinterpret_cast<Bytef*>(m_input.get());
            z.avail_in = uInt(n);
            read += n;
        }
        z.next_out = out;
        z.avail_out = uInt(qMin(kOutputSize, uncompressedSize - written));
        const int status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_STREAM_END)
            ended = true;
        else if (status != Z_OK && status != Z_BUF_ERROR)
            return Outcome::Corrupt;
        const qint64 produced = qint64(z.next_out - out);
        // No progress: the compressed data ends before the entry does, or is stuck.
        if (produced == 0 && !ended && (status == Z_BUF_ERROR || (z.avail_in == 0 && read >= compressedSize)))
            return Outcome::Corrupt;
        if (produced > 0) {
            sum = crc32_z(sum, out, size_t(produced));
            if (!file.Write(m_output.get(), produced, writeError))
                return Outcome::WriteFailed;
            written += produced;
        }
    }
    return written == uncompressedSize && sum == crc ? Outcome::Ok : Outcome::Corrupt;
}

} // namespace archive
