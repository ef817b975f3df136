#pragma once
// A shared library loaded the first time it is needed rather than with the program: every
// symbol a linked library brings is bound at every start, and most starts never download a
// file or read a game manager's database.

#include <QLibrary>
#include <QLoggingCategory>

namespace platform {

class LazyLibrary
{
public:
    // `soVersion` is the major version this build was compiled against: another has another ABI.
    // Failures are logged under `category`.
    LazyLibrary(const QString& name, int soVersion, const QLoggingCategory& category);

    // False, and logged, when the library cannot be loaded.
    bool Load();
    // Sets `function` to the library's symbol `name`; false, and logged, when it lacks it.
    template <typename F> bool Resolve(const char* name, F& function)
    {
        function = reinterpret_cast<F>(ResolveSymbol(name));
        return function != nullptr;
    }

private:
    QFunctionPointer ResolveSymbol(const char* name);

    QLibrary m_library;
    const QLoggingCategory& m_category;
};

} // namespace platform
