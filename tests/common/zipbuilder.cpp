#include "zipbuilder.h"

#include <QFile>
#include <QTemporaryDir>

#include <minizip/zip.h>

ZipBuilder& ZipBuilder::Add(const ZipEntryFixture& entry)
{
    m_entries.append(entry);
    return *this;
}

ZipBuilder& ZipBuilder::AddFile(const QByteArray& name, const QByteArray& data)
{
    ZipEntryFixture entry;
    entry.name = name;
    entry.data = data;
    return Add(entry);
}

ZipBuilder& ZipBuilder::AddFolder(const QByteArray& name)
{
    ZipEntryFixture entry;
    entry.name = name;
    entry.externalAttributes = 0x10;
    entry.deflate = false;
    return Add(entry);
}

bool ZipBuilder::Write(const QString& path) const
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (const ZipEntryFixture& e : m_entries) {
        zip_fileinfo info{};
        info.dosDate = e.dosDateTime;
        info.external_fa = e.externalAttributes;
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.constData()), uInt(e.data.size()));
        // A claimed size is written raw: the writer then takes the sizes from the close call.
        const bool raw = e.declaredSize >= 0;
        const bool deflate = e.deflate && !raw;
        // The writer never sees the name length separately, so names hold no NUL bytes here.
        ok = ok
            && zipOpenNewFileInZip4_64(
                   zip, e.name.constData(), &info,
                   e.localExtra.isEmpty() ? nullptr : e.localExtra.constData(), uInt(e.localExtra.size()),
                   e.centralExtra.isEmpty() ? nullptr : e.centralExtra.constData(),
                   uInt(e.centralExtra.size()), nullptr, deflate ? Z_DEFLATED : 0, deflate ? 6 : 0,
                   raw ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, e.password, crc,
                   e.versionMadeBy, e.utf8Flag ? 0x800 : 0, 0)
                == ZIP_OK;
        ok = ok && zipWriteInFileInZip(zip, e.data.constData(), unsigned(e.data.size())) == ZIP_OK;
        ok = ok
            && (raw ? zipCloseFileInZipRaw64(zip, ZPOS64_T(e.declaredSize), crc) : zipCloseFileInZip(zip))
                == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

quint16 UnixHost()
{
    return 0x0314;
}

quint32 UnixMode(quint32 mode)
{
    return mode << 16;
}

QByteArray ExtendedTimestamp(quint8 flags, const QList<qint32>& times, int declaredSize)
{
    QByteArray block("UT");
    const int size = declaredSize >= 0 ? declaredSize : int(1 + 4 * times.size());
    block.append(char(size & 0xFF)).append(char(size >> 8)).append(char(flags));
    for (qint32 t : times) {
        for (int i = 0; i < 4; ++i)
            block.append(char((quint32(t) >> (8 * i)) & 0xFF));
    }
    return block;
}

bool WriteOversizedArchive(const QString& path)
{
    ZipBuilder zip;
    for (int i = 0; i < 4000; ++i) {
        ZipEntryFixture entry;
        entry.name = "e" + QByteArray::number(i);
        entry.data = "x";
        entry.declaredSize = 0xFFFFFF00u; // the most a header holds without 64-bit fields
        zip.Add(entry);
    }
    return zip.Write(path);
}

QByteArray ZipBuilder::Bytes() const
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("made.zip"));
    QFile file(path);
    if (!dir.isValid() || !Write(path) || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
