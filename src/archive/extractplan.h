#pragma once
// Which entries of an archive may be written by different threads. Entries whose cleaned names
// name the same path, or where a file entry's name is a folder level of another entry's name,
// depend on archive order (the last duplicate wins; a file and a folder of one name fail in a
// way that depends on which came first) and stay together in archive order. A folder entry
// imposes no order on what lies below it: making a folder that exists already changes nothing.

#include <QList>
#include <QString>

namespace archive {

struct PlanEntry
{
    QString name; // cleaned name
    bool folder = false;
    qint64 weight = 0; // compressed size: the work of inflating and writing it
};

// Groups of entry positions, each in archive order, the heaviest group first.
QList<QList<int>> PlanExtraction(const QList<PlanEntry>& entries);

// The path a cleaned name leads to, levels joined by '/', without empty and "." levels and with
// a final ".." applied: two names that lead to one place give the same key.
QString PathKey(const QString& cleanedName);

} // namespace archive
