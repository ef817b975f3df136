// What only the PostgreSQL store has: a database that cannot be reached, one that restarts
// under a running store, and two real qx77-server processes sharing one database.

#include "testrunner.h"

#include "accounts.h"
#include "postgresfixture.h"
#include "serverfixture.h"

#include <QTemporaryDir>
#include <QTest>

using Result = Accounts::RegisterResult;

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
                RunServer({u"--make-demo"_qs, dir->path(), u"--small-packs"_qs, u"--database"_qs, database}),
                0);

        ServerProcess a, b;
        QVERIFY(a.Start({first.path(), u"--quiet"_qs, u"--database"_qs, database}));
        QVERIFY(b.Start({second.path(), u"--quiet"_qs, u"--database"_qs, database}));

        QCOMPARE(LoginFlag(b.servicePort, "demo", "demo123"), std::string("1"));
        QCOMPARE(Register(a.toolPort, "玩家甲", "jia-123")->status, 200);
        QCOMPARE(LoginFlag(b.servicePort, "玩家甲", "jia-123"), std::string("1"));
        QCOMPARE(LoginFlag(b.servicePort, "玩家甲", "jia-124"), std::string("0"));
        QCOMPARE(Register(b.toolPort, "Player", "p")->status, 200);
        QCOMPARE(Register(a.toolPort, "ＰＬＡＹＥＲ", "q")->status, 409);
        QCOMPARE(Register(b.toolPort, "玩家甲 ", "q")->status, 409);
        QCOMPARE(LoginFlag(a.servicePort, "player", "p"), std::string("1"));

        // The data folders' own account files were never used.
        QCOMPARE(LoginFlag(a.servicePort, "demo", "demo123"), std::string("1"));
        Accounts local;
        QVERIFY(local.Open(first.filePath(QStringLiteral("accounts.db")).toStdString()));
        QVERIFY(!local.Check("demo", "demo123"));
    }

    // The login counters live in the database: guesses through two servers add up to one
    // account budget, and the place the owner logged in from through one counts at the other.
    void guessesThroughTwoServersAddUp()
    {
        const std::string uri = m_postgres.CreateDatabase();
        Accounts one, two;
        QVERIFY(one.Open(uri) && two.Open(uri));
        QCOMPARE(one.Register("victim", "right-1"), Result::Created);
        ServiceHost::Config config;
        config.port = 0;
        config.backoff.failuresPerHour = 4;
        auto quiet = [](const std::string&) {};
        ServiceHost a(one, config, quiet), b(two, config, quiet);
        std::string error;
        QVERIFY(a.Start(&error) && b.Start(&error));

        QCOMPARE(LoginFlag(b.Port(), "victim", "right-1", "127.0.0.2"), std::string("1"));
        for (int i = 0; i < 4; ++i) // two each: within either server's budget alone
            QCOMPARE(LoginFlag((i % 2 ? a : b).Port(), "victim", "wrong", "127.0.0.1" + std::to_string(i)),
                     std::string("0"));
        QCOMPARE(LoginFlag(a.Port(), "victim", "right-1", "127.0.0.30"), std::string("0"));
        QCOMPARE(LoginFlag(b.Port(), "VICTIM", "right-1", "127.0.0.30"), std::string("0"));
        QCOMPARE(LoginFlag(a.Port(), "victim", "right-1", "127.0.0.2"), std::string("1"));
    }

    void badDatabaseStopsTheServerWithAMessage()
    {
        QTemporaryDir dir;
        QByteArray log;
        QCOMPARE(RunServer({dir.path(), u"--database"_qs, QString::fromStdString(m_postgres.Uri(u"gone"_qs))},
                           &log),
                 1);
        QVERIFY(log.contains("accounts:"));
    }
};

YFZS_TEST_CLASS(PostgresAccountsTest)
#include "postgres_test.moc"
