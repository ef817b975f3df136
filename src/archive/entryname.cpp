#include "archive/entryname.h"

#include "platform/codec.h"

namespace archive {

bool IsNameSeparator(QChar ch)
{
    return ch == u'\\' || ch == u'/';
}

QList<QStringView> PathLevels(QStringView path)
{
    QList<QStringView> levels;
    qsizetype from = 0;
    while (from <= path.size()) {
        qsizetype to = from;
        while (to < path.size() && !IsNameSeparator(path[to]))
            ++to;
        const QStringView level = path.sliced(from, to - from);
        from = to + 1;
        if (!level.isEmpty() && level != u".")
            levels.append(level);
    }
    return levels;
}

namespace {

constexpr const char16_t* kInnerClimbs[] = {u"\\..\\", u"\\../", u"/../", u"/..\\"};

// The name is only ever shortened from the front, so a pattern that is missing from what is
// left stays missing, and one found at some position cannot occur before it later. Keeping
// those positions makes cleaning linear even for names built to need thousands of steps.
class Cleaner
{
public:
    explicit Cleaner(const QString& name)
        : m_name(name)
    {
        for (qsizetype& from : m_searchFrom)
            from = 0;
    }

    // Applies the first rule that applies; false when none does.
    bool Step()
    {
        const QStringView rest = QStringView(m_name).sliced(m_start);
        if (rest.size() >= 2 && rest[1] == u':') {
            m_start += 2;
            return true;
        }
        if (rest.startsWith(u'\\') || rest.startsWith(u'/')) {
            m_start += 1;
            return true;
        }
        if (rest.startsWith(u"..\\") || rest.startsWith(u"../")) {
            m_start += 3;
            return true;
        }
        for (int i = 0; i < 4; ++i) {
            if (m_searchFrom[i] < 0)
                continue;
            const qsizetype at = m_name.indexOf(QStringView(kInnerClimbs[i]), qMax(m_start, m_searchFrom[i]));
            m_searchFrom[i] = at;
            if (at >= 0) {
                m_start = at + 4;
                return true;
            }
        }
        return false;
    }

    QString Result() const { return m_name.sliced(m_start); }

private:
    const QString& m_name;
    qsizetype m_start = 0;
    qsizetype m_searchFrom[4];
};

} // namespace

QString DecodeEntryName(QByteArrayView stored, bool utf8Flag)
{
    return utf8Flag ? QString::fromUtf8(stored) : platform::FromAnsi(stored);
}

QString CleanEntryName(const QString& name)
{
    Cleaner cleaner(name);
    while (cleaner.Step()) { }
    return cleaner.Result();
}

} // namespace archive
