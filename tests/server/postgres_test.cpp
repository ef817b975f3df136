// What only the PostgreSQL store has: a database that cannot be reached, one that restarts
// under a running store, and two real qx77-server processes sharing one database.

#include "testrunner.h"

#include "accounts.h"
#include "postgresfixture.h"
#include "serverfixture.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <memory>

using Result = Accounts::RegisterResult;

namespace {

// A qx77-server process on free loopback ports.
struct ServerProcess
{
    QProcess process;
    int toolPort = 0;
    int servicePort = 0;

    bool Start(const QStringList& args)
    {
        process.start(QStringLiteral(QX77_SERVER_PATH),
                      args
                          + QStringList{QStringLiteral("--tool-port"), QStringLiteral("0"),
                                        QStringLiteral("--service-port"), QStringLiteral("0")});
        if (!process.waitForStarted())
            return false;
        static const QRegularExpression tool(QStringLiteral("http://127\\.0\\.0\\.1:(\\d+)/CF20"));
        static const QRegularExpression service(QStringLiteral("service host 127\\.0\\.0\\.1:(\\d+)\\n"));
        QString log;
        const bool up = QTest::qWaitFor(
            [&] {
                log += QString::fromUtf8(process.readAllStandardError());
                return service.match(log).hasMatch() || process.state() == QProcess::NotRunning;
            },
            15000);
        if (!up || !service.match(log).hasMatch()) {
            qWarning("qx77-server did not start: %s", qPrintable(log));
            return false;
        }
        toolPort = tool.match(log).captured(1).toInt();
        servicePort = service.match(log).captured(1).toInt();
        return true;
    }

    ~ServerProcess()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
};

// The registration form's answer: the HTTP status.
int Register(int port, const QString& user, const QString& password)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/member.php?mod=register").arg(port)));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("username"), user);
    form.addQueryItem(QStringLiteral("password"), password);
    form.addQueryItem(QStringLiteral("password2"), password);
    std::unique_ptr<QNetworkReply> reply(network.post(request, form.toString(QUrl::FullyEncoded).toUtf8()));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 15000))
        return 0;
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

class PostgresAccountsTest : public QObject
{
    Q_OBJECT

    PostgresServer m_postgres;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_postgres.Start(&error), qPrintable(error));
    }

    void unreachableDatabaseIsReported()
    {
        Accounts accounts;
        std::string error;
        QVERIFY(!accounts.Open(m_postgres.Uri(QStringLiteral("no_such_database")), &error));
        QVERIFY2(error.find("no_such_database") != std::string::npos, error.c_str());
        QVERIFY(!accounts.Open("postgresql://postgres@/x?host=/no/such/folder&port=1", &error));
        QVERIFY2(error.find("/no/such/folder") != std::string::npos, error.c_str());
        QCOMPARE(accounts.Register("demo", "demo123"), Result::StorageError);
    }

    // The store's connections break when the database restarts; the next request after it is
    // back uses a fresh one, without restarting the store.
    void survivesADatabaseRestart()
    {
        Accounts accounts;
        QVERIFY(accounts.Open(m_postgres.CreateDatabase()));
        QCOMPARE(accounts.Register("survivor", "s3cret"), Result::Created);
        QVERIFY(accounts.Check("survivor", "s3cret"));

        // The kept connection is broken by the restart; the request is tried again on a new one.
        QString error;
        QVERIFY(m_postgres.Stop());
        QVERIFY2(m_postgres.Start(&error), qPrintable(error));
        QVERIFY(accounts.Check("survivor", "s3cret"));

        QVERIFY(m_postgres.Stop());
        QVERIFY(!accounts.Check("survivor", "s3cret"));
        QCOMPARE(accounts.Register("latecomer", "late"), Result::StorageError);
        QVERIFY2(m_postgres.Start(&error), qPrintable(error));

        QVERIFY(accounts.Check("survivor", "s3cret"));
        QCOMPARE(accounts.Register("latecomer", "late"), Result::Created);
        QCOMPARE(accounts.Register("SURVIVOR", "other"), Result::Duplicate);
    }

    // Two servers, each with its own data folder, keep their accounts in one database: an
    // account registered through one logs in through the other, and look-alikes are refused
    // whichever server they reach.
    void twoServersShareOneDatabase()
    {
        const std::string uri = m_postgres.CreateDatabase();
        QVERIFY(!uri.empty());
        const QString database = QString::fromStdString(uri);
        QTemporaryDir first, second;
        for (const QTemporaryDir* dir : {&first, &second})
            QCOMPARE(
                QProcess::execute(QStringLiteral(QX77_SERVER_PATH),
                                  {QStringLiteral("--make-demo"), dir->path(),
                                   QStringLiteral("--small-packs"), QStringLiteral("--database"), database}),
                0);

        ServerProcess a, b;
        QVERIFY(a.Start({first.path(), QStringLiteral("--quiet"), QStringLiteral("--database"), database}));
        QVERIFY(b.Start({second.path(), QStringLiteral("--quiet"), QStringLiteral("--database"), database}));

        QCOMPARE(LoginFlag(b.servicePort, "demo", "demo123"), std::string("1"));
        QCOMPARE(Register(a.toolPort, QStringLiteral("玩家甲"), QStringLiteral("jia-123")), 200);
        QCOMPARE(LoginFlag(b.servicePort, "玩家甲", "jia-123"), std::string("1"));
        QCOMPARE(LoginFlag(b.servicePort, "玩家甲", "jia-124"), std::string("0"));
        QCOMPARE(Register(b.toolPort, QStringLiteral("Player"), QStringLiteral("p")), 200);
        QCOMPARE(Register(a.toolPort, QStringLiteral("ＰＬＡＹＥＲ"), QStringLiteral("q")), 409);
        QCOMPARE(Register(b.toolPort, QStringLiteral("玩家甲 "), QStringLiteral("q")), 409);
        QCOMPARE(LoginFlag(a.servicePort, "player", "p"), std::string("1"));

        // The data folders' own account files were never used.
        QCOMPARE(LoginFlag(a.servicePort, "demo", "demo123"), std::string("1"));
        Accounts local;
        QVERIFY(local.Open(first.filePath(QStringLiteral("accounts.db")).toStdString()));
        QVERIFY(!local.Check("demo", "demo123"));
    }

    void badDatabaseStopsTheServerWithAMessage()
    {
        QTemporaryDir dir;
        QProcess server;
        server.start(QStringLiteral(QX77_SERVER_PATH),
                     {dir.path(), QStringLiteral("--database"),
                      QString::fromStdString(m_postgres.Uri(QStringLiteral("gone")))});
        QVERIFY(server.waitForFinished(15000));
        QCOMPARE(server.exitCode(), 1);
        QVERIFY(server.readAllStandardError().contains("accounts:"));
    }
};

YFZS_TEST_CLASS(PostgresAccountsTest)
#include "postgres_test.moc"
