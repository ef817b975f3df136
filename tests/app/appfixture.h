#pragma once
// Guards the main-window tests share: they put files (and, through EnvGuard, environment
// variables) back as they were.

#include "testenv.h"

#include <QByteArray>
#include <QString>

class QProcess;

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

// Kills a program the test started, if it still runs, and waits for its end.
void StopProcess(QProcess& process);
