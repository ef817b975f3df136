#pragma once
// How a name stored in an archive becomes a name below the destination folder: decoded from
// UTF-8 or GBK, then stripped of drive letters, leading separators and climbing levels.

#include <QByteArrayView>
#include <QList>
#include <QString>

namespace archive {

// Both '\' and '/' separate levels, in stored names and in the paths they are put below.
bool IsNameSeparator(QChar ch);
// The levels of a path between separators, without empty and "." levels ("a//./b" is a, b).
QList<QStringView> PathLevels(QStringView path);

// Decodes the stored name bytes: UTF-8 when the entry says so, GBK otherwise.
QString DecodeEntryName(QByteArrayView stored, bool utf8Flag);

// Applies the cleaning rules until none applies; the result is never absolute and never
// leaves the folder it is put below. Both '\' and '/' count as separators.
QString CleanEntryName(const QString& name);

} // namespace archive
