#include "appfixture.h"

#include <QFile>

FileGuard::FileGuard(QString path)
    : m_path(std::move(path))
{
    QFile file(m_path);
    m_existed = file.open(QIODevice::ReadOnly);
    if (m_existed)
        m_content = file.readAll();
    QFile::remove(m_path);
}

FileGuard::~FileGuard()
{
    QFile::remove(m_path);
    if (m_existed) {
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly))
            file.write(m_content);
    }
}

void EnvGuard::Set(const char* name, const QByteArray& value)
{
    if (!m_saved.contains(name))
        m_saved.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    qputenv(name, value);
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
