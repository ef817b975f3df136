#include "archive/entrymeta.h"

#include <QDate>
#include <QTime>

namespace archive {

namespace {

constexpr qint64 kSecondsFrom1601To1970 = 11644473600LL;
constexpr qint64 kTicksPerSecond = 10000000LL;
constexpr quint16 kExtendedTimestampTag = 0x5455; // "UT"

quint16 readLe16(const uchar* p)
{
    return quint16(p[0] | (p[1] << 8));
}

qint32 readLe32(const uchar* p)
{
    return qint32(quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24));
}

qint64 convertDosDateTime(quint32 dosDateTime)
{
    const quint32 date = dosDateTime >> 16;
    const quint32 time = dosDateTime & 0xFFFF;
    const QDate day(1980 + int((date >> 9) & 0x7F), int((date >> 5) & 0x0F), int(date & 0x1F));
    const QTime clock(int((time >> 11) & 0x1F), int((time >> 5) & 0x3F), 2 * int(time & 0x1F));
    if (!day.isValid() || !clock.isValid())
        return 0;
    const QDateTime local(day, clock, Qt::LocalTime);
    if (!local.isValid())
        return 0;
    return UnixSecondsToFileTime(local.toSecsSinceEpoch());
}

bool isDosHost(int host)
{
    return host == 0 || host == 7 || host == 11 || host == 14;
}

} // namespace

quint32 EntryAttributes(quint16 versionMadeBy, quint32 externalAttributes)
{
    if (isDosHost(versionMadeBy >> 8))
        return externalAttributes
            & (attributes::kReadOnly | attributes::kHidden | attributes::kSystem | attributes::kDirectory
               | attributes::kArchive);
    quint32 bits = attributes::kArchive;
    if (externalAttributes & 0x40000000u)
        bits |= attributes::kDirectory;
    if (!(externalAttributes & 0x00800000u))
        bits |= attributes::kReadOnly;
    return bits;
}

qint64 DosDateTimeToFileTime(quint32 dosDateTime)
{
    // Converting local time looks at the system's zone file every time, and the entries of a
    // pack mostly share one time: the latest answer is kept (for the zone it was given in).
    thread_local quint32 lastInput = 0;
    thread_local QByteArray lastZone;
    thread_local qint64 lastOutput = -1;
    const QByteArray zone = qgetenv("TZ");
    if (lastOutput >= 0 && lastInput == dosDateTime && lastZone == zone)
        return lastOutput;
    lastOutput = convertDosDateTime(dosDateTime);
    lastInput = dosDateTime;
    lastZone = zone;
    return lastOutput;
}

void ApplyExtendedTimestamp(QByteArrayView localExtra, EntryTimes& times)
{
    const auto* data = reinterpret_cast<const uchar*>(localExtra.data());
    const qsizetype size = localExtra.size();
    if (size <= 4)
        return;
    qsizetype block = 0;
    while (size - block >= 5) {
        const quint16 tag = readLe16(data + block);
        const qsizetype blockSize = readLe16(data + block + 2);
        if (tag != kExtendedTimestampTag) {
            block += 4 + blockSize;
            continue;
        }
        // Times are read only as far as both the block and the field really reach.
        const qsizetype end = qMin(size, block + 4 + blockSize);
        const uchar flags = data[block + 4];
        qsizetype at = block + 5;
        qint64* targets[] = {&times.modification, &times.access, &times.creation};
        for (int bit = 0; bit < 3; ++bit) {
            if (!(flags & (1 << bit)))
                continue;
            if (end - at < 4)
                break;
            *targets[bit] = UnixSecondsToFileTime(readLe32(data + at));
            at += 4;
        }
        return;
    }
}

qint64 UnixSecondsToFileTime(qint64 seconds)
{
    return (seconds + kSecondsFrom1601To1970) * kTicksPerSecond;
}

QDateTime FileTimeToDateTime(qint64 fileTime)
{
    const qint64 unixTicks = fileTime - kSecondsFrom1601To1970 * kTicksPerSecond;
    return QDateTime::fromMSecsSinceEpoch(unixTicks / 10000, Qt::UTC);
}

} // namespace archive
