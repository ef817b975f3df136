#include "archive/extractplan.h"

#include "archive/entryname.h"

#include <QHash>

#include <algorithm>
#include <numeric>
#include <vector>

namespace archive {

namespace {

class DisjointSets
{
public:
    explicit DisjointSets(int size)
        : m_parent(size_t(size))
    {
        std::iota(m_parent.begin(), m_parent.end(), 0);
    }
    int Find(int x)
    {
        while (m_parent[size_t(x)] != x) {
            m_parent[size_t(x)] = m_parent[size_t(m_parent[size_t(x)])];
            x = m_parent[size_t(x)];
        }
        return x;
    }
    void Join(int a, int b)
    {
        a = Find(a);
        b = Find(b);
        if (a != b)
            m_parent[size_t(qMax(a, b))] = qMin(a, b);
    }

private:
    std::vector<int> m_parent;
};

} // namespace

QString PathKey(const QString& cleanedName)
{
    QStringList levels;
    for (const QStringView level : PathLevels(cleanedName)) {
        if (level == u"..") {
            if (!levels.isEmpty())
                levels.removeLast();
            continue;
        }
        levels.append(level.toString());
    }
    return levels.join(u'/');
}

QList<QList<int>> PlanExtraction(const QList<PlanEntry>& entries)
{
    const int count = int(entries.size());
    QList<QString> keys;
    keys.reserve(count);
    QHash<QString, int> firstWithKey;
    QHash<QString, int> firstFileWithKey;
    DisjointSets sets(count);
    for (int i = 0; i < count; ++i) {
        keys.append(PathKey(entries[i].name));
        const auto same = firstWithKey.constFind(keys[i]);
        if (same != firstWithKey.constEnd())
            sets.Join(same.value(), i);
        else
            firstWithKey.insert(keys[i], i);
        if (!entries[i].folder && !firstFileWithKey.contains(keys[i]))
            firstFileWithKey.insert(keys[i], i);
    }
    // Every file entry named like a folder level of another entry joins that entry.
    for (int i = 0; i < count; ++i) {
        const QString& key = keys[i];
        for (qsizetype cut = key.indexOf(u'/'); cut > 0; cut = key.indexOf(u'/', cut + 1)) {
            const auto file = firstFileWithKey.constFind(key.left(cut));
            if (file != firstFileWithKey.constEnd())
                sets.Join(file.value(), i);
        }
    }

    QHash<int, int> groupOfRoot;
    QList<QList<int>> groups;
    QList<qint64> weights;
    for (int i = 0; i < count; ++i) {
        const int root = sets.Find(i);
        auto at = groupOfRoot.constFind(root);
        if (at == groupOfRoot.constEnd()) {
            at = groupOfRoot.insert(root, int(groups.size()));
            groups.append(QList<int>());
            weights.append(0);
        }
        groups[at.value()].append(i);
        weights[at.value()] += qMax<qint64>(0, entries[i].weight);
    }
    std::vector<int> order(size_t(groups.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return weights[a] > weights[b]; });
    QList<QList<int>> sorted;
    sorted.reserve(groups.size());
    for (int g : order)
        sorted.append(std::move(groups[g]));
    return sorted;
}

} // namespace archive
