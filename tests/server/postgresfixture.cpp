#include "postgresfixture.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>

namespace {

constexpr int kPort = 5432; // names the socket file only: nothing listens on TCP
constexpr int kTimeoutMs = 60000;
const QString kClusterUser = QStringLiteral("postgres");

// Debian keeps each major version's programs in /usr/lib/postgresql/<version>/bin; the newest wins.
QString FindServerPrograms()
{
    QStringList versions =
        QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(),
              [&](const QString& a, const QString& b) { return numeric.compare(a, b) > 0; });
    for (const QString& version : versions) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
        if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable())
            return bin;
    }
    const QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
    return initdb.isEmpty() ? QString() : QFileInfo(initdb).absolutePath();
}

// Whether this process runs as root: files it makes belong to user 0.
bool RunningAsRoot()
{
    QTemporaryFile probe;
    return probe.open() && QFileInfo(probe.fileName()).ownerId() == 0;
}

} // namespace

PostgresServer::~PostgresServer()
{
    if (m_running)
        Run(m_bin + QStringLiteral("/pg_ctl"),
            {QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-m"),
             QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
            true, nullptr);
    if (!m_dir.isEmpty())
        QDir(m_dir).removeRecursively();
}

bool PostgresServer::Run(const QString& program, const QStringList& args, bool asClusterUser, QString* error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // The cluster's user may not enter the test's own folder.
    process.setWorkingDirectory(QDir::tempPath());
    if (asClusterUser && m_asRoot)
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), kClusterUser, QStringLiteral("--"), program} + args);
    else
        process.start(program, args);
    const bool finished = process.waitForFinished(kTimeoutMs);
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (error)
        *error = QFileInfo(program).fileName() + QStringLiteral(": ")
            + (output.isEmpty() ? process.errorString() : output);
    return false;
}

bool PostgresServer::Start(QString* error)
{
    if (m_running)
        return true;
    if (m_dir.isEmpty()) {
        m_bin = FindServerPrograms();
        if (m_bin.isEmpty()) {
            if (error)
                *error = QStringLiteral(
                    "no PostgreSQL server programs (initdb); scripts/setup installs them");
            return false;
        }
        m_asRoot = RunningAsRoot();
        // A short path: the socket's must fit in 107 bytes.
        const QString pattern = QStringLiteral("/tmp/qx77-pg.XXXXXX");
        if (m_asRoot) {
            QProcess mktemp;
            mktemp.start(QStringLiteral("runuser"),
                         {QStringLiteral("-u"), kClusterUser, QStringLiteral("--"), QStringLiteral("mktemp"),
                          QStringLiteral("-d"), pattern});
            if (mktemp.waitForFinished(kTimeoutMs) && mktemp.exitCode() == 0)
                m_dir = QString::fromLocal8Bit(mktemp.readAllStandardOutput()).trimmed();
        } else {
            QTemporaryDir dir(pattern);
            dir.setAutoRemove(false);
            if (dir.isValid())
                m_dir = dir.path();
        }
        if (m_dir.isEmpty()) {
            if (error)
                *error = QStringLiteral("cannot make a folder for the cluster (is there a user %1?)")
                             .arg(kClusterUser);
            return false;
        }
        if (!Run(m_bin + QStringLiteral("/initdb"),
                 {QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-U"), kClusterUser,
                  QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                  QStringLiteral("--locale=C.UTF-8"), QStringLiteral("--no-sync")},
                 true, error))
            return false;
    }
    // Durability does not matter for a test cluster; speed does.
    const QString options = QStringLiteral(
                                "-k %1 -p %2 -c listen_addresses= -c fsync=off -c full_page_writes=off")
                                .arg(m_dir)
                                .arg(kPort);
    m_running = Run(m_bin + QStringLiteral("/pg_ctl"),
                    {QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-l"),
                     m_dir + QStringLiteral("/server.log"), QStringLiteral("-o"), options,
                     QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                     QStringLiteral("start")},
                    true, error);
    return m_running;
}

bool PostgresServer::Stop()
{
    if (!m_running)
        return true;
    m_running = !Run(m_bin + QStringLiteral("/pg_ctl"),
                     {QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-m"),
                      QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")},
                     true, nullptr);
    return !m_running;
}

std::string PostgresServer::CreateDatabase(QString* error)
{
    const QString name = QStringLiteral("qx77_%1").arg(++m_databases);
    if (!Run(m_bin + QStringLiteral("/createdb"),
             {QStringLiteral("-h"), m_dir, QStringLiteral("-p"), QString::number(kPort), QStringLiteral("-U"),
              kClusterUser, name},
             false, error))
        return {};
    return Uri(name);
}

std::string PostgresServer::Uri(const QString& database) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3&port=%4")
        .arg(kClusterUser, database, m_dir)
        .arg(kPort)
        .toStdString();
}
