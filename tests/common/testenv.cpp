#include "testenv.h"

void EnvGuard::Keep(const char* name)
{
    if (!m_saved.contains(name))
        m_saved.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
}

void EnvGuard::Set(const char* name, const QByteArray& value)
{
    Keep(name);
    qputenv(name, value);
}

void EnvGuard::Unset(const char* name)
{
    Keep(name);
    qunsetenv(name);
}

EnvGuard::~EnvGuard()
{
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
        if (it.value())
            qputenv(it.key().constData(), *it.value());
        else
            qunsetenv(it.key().constData());
    }
}
