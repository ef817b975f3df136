#pragma once
// Environment variables a test changes and puts back as they were when the guard goes.

#include <QByteArray>
#include <QHash>

#include <optional>

class EnvGuard
{
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard();

    void Set(const char* name, const QByteArray& value);
    void Unset(const char* name);
    // Remembers the variable's value for the end without changing it (the test changes it).
    void Keep(const char* name);

private:
    QHash<QByteArray, std::optional<QByteArray>> m_saved;
};
