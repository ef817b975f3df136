#pragma once
// Guards the main-window tests share: they put files and environment variables back as they were.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

// A file (config.ini beside the test program, say) removed for the test and restored afterwards.
class FileGuard
{
public:
    explicit FileGuard(QString path);
    ~FileGuard();
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;

private:
    QString m_path;
    QByteArray m_content;
    bool m_existed = false;
};

// Environment variables set for the test and put back afterwards.
class EnvGuard
{
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard();
    void Set(const char* name, const QByteArray& value);

private:
    QHash<QByteArray, std::optional<QByteArray>> m_saved;
};
