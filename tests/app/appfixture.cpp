#include "appfixture.h"

#include <QFile>
#include <QProcess>

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

void StopProcess(QProcess& process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}
