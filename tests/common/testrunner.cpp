#include "testrunner.h"

#include <QTest>

#include <vector>

namespace testrunner {
namespace {

struct Entry
{
    const char* name;
    Factory factory;
};

std::vector<Entry>& entries()
{
    static std::vector<Entry> list;
    return list;
}

} // namespace

int Register(const char* name, Factory factory)
{
    entries().push_back({name, std::move(factory)});
    return int(entries().size());
}

int RunAll(QStringList arguments)
{
    // "Class::function" or "Class" as the first argument runs only that class.
    QString only;
    if (arguments.size() > 1 && !arguments.at(1).startsWith(u'-')) {
        only = arguments.at(1).section(QStringLiteral("::"), 0, 0);
        const QString function = arguments.at(1).section(QStringLiteral("::"), 1);
        if (function.isEmpty())
            arguments.removeAt(1);
        else
            arguments[1] = function;
    }

    int status = 0;
    for (const auto& entry : entries()) {
        if (!only.isEmpty() && only != QLatin1String(entry.name))
            continue;
        auto object = entry.factory();
        status |= QTest::qExec(object.get(), arguments);
    }
    return status;
}

} // namespace testrunner

void AddFlagRows(const char* column, const char* whenFalse, const char* whenTrue)
{
    QTest::addColumn<bool>(column);
    QTest::newRow(whenFalse) << false;
    QTest::newRow(whenTrue) << true;
}
