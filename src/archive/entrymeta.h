#pragma once
// Attributes and time stamps of an archive entry, in the program's terms: Windows attribute
// bits and file times (100-ns units since 1601-01-01 UTC), whatever system made the archive.

#include <QByteArrayView>
#include <QDateTime>
#include <QtGlobal>

namespace archive {

namespace attributes {
constexpr quint32 kReadOnly = 0x01;
constexpr quint32 kHidden = 0x02;
constexpr quint32 kSystem = 0x04;
constexpr quint32 kDirectory = 0x10;
constexpr quint32 kArchive = 0x20;
} // namespace attributes

struct EntryTimes
{
    qint64 access = 0;
    qint64 creation = 0;
    qint64 modification = 0;
};

// Attribute bits from the version-made-by field and the external attributes.
quint32 EntryAttributes(quint16 versionMadeBy, quint32 externalAttributes);

// MS-DOS date (high 16 bits) and time (low 16 bits) read as local time; 0 when the fields
// do not form a valid date and time.
qint64 DosDateTimeToFileTime(quint32 dosDateTime);

// Replaces times with those of the extended-timestamp block of a local extra field, if any.
void ApplyExtendedTimestamp(QByteArrayView localExtra, EntryTimes& times);

qint64 UnixSecondsToFileTime(qint64 seconds);
QDateTime FileTimeToDateTime(qint64 fileTime);

} // namespace archive
