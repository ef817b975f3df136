#pragma once
// Archives for the tests, written with minizip's own writer; odd headers are patched into
// the bytes afterwards by the tests themselves.

#include <QByteArray>
#include <QList>
#include <QString>

struct ZipEntryFixture
{
    QByteArray name; // stored bytes, as the archive holds them
    QByteArray data;
    quint16 versionMadeBy = 0x0014; // MS-DOS host
    quint32 externalAttributes = 0x20;
    quint32 dosDateTime = 0x5A8A6000; // 2025-04-10 12:00:00
    QByteArray localExtra;
    bool utf8Flag = false;
    bool deflate = true;
    const char* password = nullptr;
    qint64 declaredSize = -1; // an unpacked size (below 4 GiB) the headers claim instead; stored as is
    QByteArray centralExtra;  // the central header's extra field
};

class ZipBuilder
{
public:
    ZipBuilder& Add(const ZipEntryFixture& entry);
    ZipBuilder& AddFile(const QByteArray& name, const QByteArray& data);
    ZipBuilder& AddFolder(const QByteArray& name);
    bool Write(const QString& path) const;
    // The archive's bytes, for a server to send; empty when it could not be made.
    QByteArray Bytes() const;

private:
    QList<ZipEntryFixture> m_entries;
};

// MS-DOS host, Unix host attribute helpers.
quint16 UnixHost();
quint32 UnixMode(quint32 mode);

// An extended-timestamp block with the given flags and times (seconds since 1970).
QByteArray ExtendedTimestamp(quint8 flags, const QList<qint32>& times, int declaredSize = -1);

// An archive whose stored entries claim about 16 TiB unpacked, more than any disk the tests run
// on, while the file itself stays small: for the free-space check before unpacking.
bool WriteOversizedArchive(const QString& path);
