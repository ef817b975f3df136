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
const QString kClusterUser = u"postgres"_qs;

// Debian keeps each major version's programs in /usr/lib/postgresql/<version>/bin; the newest wins.
QString FindServerPrograms()
{
    QStringList versions = QDir(u"/usr/lib/postgresql"_qs).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(),
              [&](const QString& a, const QString& b) { return numeric.compare(a, b) > 0; });
    for (const QString& version : versions) {
        const QString bin = u"/usr/lib/postgresql/%1/bin"_qs.arg(version);
        if (QFileInfo(bin + u"/initdb"_qs).isExecutable())
            return bin;
    }
    const QString initdb = QStandardPaths::findExecutable(u"initdb"_qs);
    return initdb.isEmpty() ? QString() : QFileInfo(initdb).absolutePath();
}

// Whether this process runs as root: files it makes belong to user 0.
bool RunningAsRoot()
{
    QTemporaryFile probe;
    return probe.open() && QFileInfo(probe.fileName()).ownerId() == 0;
}

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

PostgresServer::~PostgresServer()
{
    if (m_running)
        PgCtl({u"-m"_qs, u"immediate"_qs, u"stop"_qs}, nullptr);
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
        process.start(u"runuser"_qs, QStringList{u"-u"_qs, kClusterUser, u"--"_qs, program} + args);
    else
        process.start(program, args);
    const bool finished = process.waitForFinished(kTimeoutMs);
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    return fail(error,
                QFileInfo(program).fileName() + u": "_qs
                    + (output.isEmpty() ? process.errorString() : output));
}

bool PostgresServer::PgCtl(const QStringList& args, QString* error)
{
    return Run(m_bin + u"/pg_ctl"_qs, QStringList{u"-D"_qs, m_dir + u"/data"_qs, u"-w"_qs} + args, true,
               error);
}

bool PostgresServer::Start(QString* error)
{
    if (m_running)
        return true;
    if (m_dir.isEmpty()) {
        m_bin = FindServerPrograms();
        if (m_bin.isEmpty())
            return fail(error, u"no PostgreSQL server programs (initdb); scripts/setup installs them"_qs);
        m_asRoot = RunningAsRoot();
        // A short path: the socket's must fit in 107 bytes.
        const QString pattern = u"/tmp/qx77-pg.XXXXXX"_qs;
        if (m_asRoot) {
            QProcess mktemp;
            mktemp.start(u"runuser"_qs, {u"-u"_qs, kClusterUser, u"--"_qs, u"mktemp"_qs, u"-d"_qs, pattern});
            if (mktemp.waitForFinished(kTimeoutMs) && mktemp.exitCode() == 0)
                m_dir = QString::fromLocal8Bit(mktemp.readAllStandardOutput()).trimmed();
        } else {
            QTemporaryDir dir(pattern);
            dir.setAutoRemove(false);
            if (dir.isValid())
                m_dir = dir.path();
        }
        if (m_dir.isEmpty())
            return fail(error,
                        u"cannot make a folder for the cluster (is there a user %1?)"_qs.arg(kClusterUser));
        if (!Run(m_bin + u"/initdb"_qs,
                 {u"-D"_qs, m_dir + u"/data"_qs, u"-U"_qs, kClusterUser, u"-A"_qs, u"trust"_qs, u"-E"_qs,
                  u"UTF8"_qs, u"--locale=C.UTF-8"_qs, u"--no-sync"_qs},
                 true, error))
            return false;
    }
    // Durability does not matter for a test cluster; speed does.
    const QString options =
        u"-k %1 -p %2 -c listen_addresses= -c fsync=off -c full_page_writes=off"_qs.arg(m_dir).arg(kPort);
    m_running = PgCtl(
        {u"-l"_qs, m_dir + u"/server.log"_qs, u"-o"_qs, options, u"-t"_qs, u"60"_qs, u"start"_qs}, error);
    return m_running;
}

bool PostgresServer::Stop()
{
    if (!m_running)
        return true;
    m_running = !PgCtl({u"-m"_qs, u"fast"_qs, u"stop"_qs}, nullptr);
    return !m_running;
}

std::string PostgresServer::CreateDatabase(QString* error)
{
    const QString name = u"qx77_%1"_qs.arg(++m_databases);
    if (!Run(m_bin + u"/createdb"_qs,
             {u"-h"_qs, m_dir, u"-p"_qs, QString::number(kPort), u"-U"_qs, kClusterUser, name}, false, error))
        return {};
    return Uri(name);
}

std::string PostgresServer::Uri(const QString& database) const
{
    return u"postgresql://%1@/%2?host=%3&port=%4"_qs.arg(kClusterUser, database, m_dir)
        .arg(kPort)
        .toStdString();
}
