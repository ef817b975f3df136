#include "platform/lazylibrary.h"

namespace platform {

LazyLibrary::LazyLibrary(const QString& name, int soVersion, const QLoggingCategory& category)
    : m_library(name, soVersion)
    , m_category(category)
{
}

bool LazyLibrary::Load()
{
    if (m_library.load())
        return true;
    qCWarning(m_category) << m_library.fileName() << "could not be loaded:" << m_library.errorString();
    return false;
}

QFunctionPointer LazyLibrary::ResolveSymbol(const char* name)
{
    const QFunctionPointer symbol = m_library.resolve(name);
    if (!symbol)
        qCWarning(m_category) << m_library.fileName() << "lacks" << name;
    return symbol;
}

} // namespace platform
