#pragma once
// A real PostgreSQL server for the tests: a new cluster in a temporary folder, listening only on
// a Unix socket in that folder, with trust authentication for its superuser "postgres". initdb
// refuses to run as root, so under root (as in CI) the cluster runs as the postgres user.

#include <QString>

#include <string>

class PostgresServer
{
public:
    PostgresServer() = default;
    ~PostgresServer(); // stops the server and removes the folder
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Makes the cluster on first use, then starts the server; false with the reason in `error`.
    bool Start(QString* error);
    // A fast shutdown; the cluster stays for the next Start.
    bool Stop();

    // Creates a new, empty database and gives its connection URI ("" when it cannot).
    std::string CreateDatabase(QString* error = nullptr);
    // The URI of a database of this server, whether it exists or not.
    std::string Uri(const QString& database) const;

private:
    bool Run(const QString& program, const QStringList& args, bool asClusterUser, QString* error);
    // pg_ctl on this cluster, waiting for it to finish.
    bool PgCtl(const QStringList& args, QString* error);

    QString m_bin; // the server's programs
    QString m_dir; // the cluster's folder: data/, the log and the socket
    bool m_asRoot = false;
    bool m_running = false;
    int m_databases = 0;
};
