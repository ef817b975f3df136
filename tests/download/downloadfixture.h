#pragma once
// What the download test classes share: a scratch folder and a loopback server that the
// engine reaches without a proxy, all three for the whole class.

#include "httpfixture.h"
#include "testenv.h"

#include <QObject>
#include <QTemporaryDir>

class DownloadFixture : public QObject
{
protected:
    QTemporaryDir m_dir;
    LoopbackHttpServer m_server;
    EnvGuard m_env;

    QString Url(const char* path) const { return m_server.Url(QString::fromLatin1(path)); }

    // For initTestCase: the proxies out of the way, the folder made, the server listening.
    bool Prepare()
    {
        BypassProxies(m_env);
        return m_dir.isValid() && m_server.Start();
    }
};
