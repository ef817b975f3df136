#include "testrunner.h"

#include <QApplication>
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

} // namespace testrunner

int main(int argc, char** argv)
{
    // One application object for every class: widget tests need QApplication, and it serves
    // the others as well.
    QApplication app(argc, argv);

    // "Class::function" or "Class" as the first argument runs only that class.
    QString only;
    QStringList args = app.arguments();
    if (args.size() > 1 && !args.at(1).startsWith(u'-')) {
        only = args.at(1).section(QStringLiteral("::"), 0, 0);
        const QString function = args.at(1).section(QStringLiteral("::"), 1);
        if (function.isEmpty())
            args.removeAt(1);
        else
            args[1] = function;
    }

    int status = 0;
    for (const auto& entry : testrunner::entries()) {
        if (!only.isEmpty() && only != QLatin1String(entry.name))
            continue;
        auto object = entry.factory();
        status |= QTest::qExec(object.get(), args);
    }
    return status;
}
