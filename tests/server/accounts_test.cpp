// The account rules against both stores: every case runs on a new SQLite file and on a new
// database of a real PostgreSQL server. Then what only the SQLite file has: its file modes and
// the update of a file written before names were folded.

#include "testrunner.h"

#include "accounts.h"
#include "postgresfixture.h"
#include "testfiles.h"

#include <sqlite3.h>

#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using Result = Accounts::RegisterResult;

namespace {

// Runs an SQL script on an SQLite file as another program would.
bool Sql(const std::string& path, const char* script)
{
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK
        && sqlite3_exec(db, script, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

constexpr QFile::Permissions kNotOwner = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
    | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

} // namespace

class AccountsTest : public QObject
{
    Q_OBJECT

    PostgresServer m_postgres;
    QTemporaryDir m_dir;
    int m_files = 0;
    std::string m_location; // the current case's new database

    std::unique_ptr<Accounts> Open()
    {
        auto accounts = std::make_unique<Accounts>();
        std::string error;
        if (!accounts->Open(m_location, &error))
            qWarning("cannot open %s: %s", m_location.c_str(), error.c_str());
        return accounts;
    }

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<QString>("store");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }

    void initTestCase()
    {
        QString error;
        QVERIFY2(m_postgres.Start(&error), qPrintable(error));
    }

    void init()
    {
        QFETCH_GLOBAL(QString, store);
        QString error;
        m_location = store == u"sqlite"
            ? m_dir.filePath(QStringLiteral("accounts%1.db").arg(++m_files)).toStdString()
            : m_postgres.CreateDatabase(&error);
        QVERIFY2(!m_location.empty(), qPrintable(error));
    }

    void registrationRulesAndLogin()
    {
        auto accounts = Open();
        QCOMPARE(accounts->Register("玩家01", "pw-123!"), Result::Created);
        QVERIFY(accounts->Check("玩家01", "pw-123!"));
        QVERIFY(!accounts->Check("玩家01", "pw-123"));
        QVERIFY(!accounts->Check("玩家02", "pw-123!"));
        QVERIFY(!accounts->Check("玩家01", ""));
        QVERIFY(!accounts->Check("", "pw-123!"));
        QVERIFY(!accounts->Check(std::string("玩家01\0x", 11), "pw-123!"));

        QCOMPARE(accounts->Register("", "pw"), Result::EmptyField);
        QCOMPARE(accounts->Register(" \t\u3000", "pw"), Result::EmptyField); // blanks only
        QCOMPARE(accounts->Register("someone", ""), Result::EmptyField);
        QCOMPARE(accounts->Register(std::string(33, 'a'), "pw"), Result::BadUserName);
        QCOMPARE(accounts->Register("tab\there", "pw"), Result::BadUserName);
        QCOMPARE(accounts->Register("smile😀", "pw"), Result::BadUserName); // GBK has no emoji
        QCOMPARE(accounts->Register("someone", "密码"), Result::BadPassword);
        QCOMPARE(accounts->Register("someone", std::string(65, 'p')), Result::BadPassword);

        // 32 characters after trimming is still a name; the blanks around it are not kept.
        std::string longest;
        for (int i = 0; i < 32; ++i)
            longest += "云";
        QCOMPARE(accounts->Register("  " + longest + "  ", "pw"), Result::Created);
        QVERIFY(accounts->Check(longest, "pw"));

        // A new object on the same database sees the same accounts.
        auto again = Open();
        QVERIFY(again->Check("玩家01", "pw-123!"));
    }

    void lookAlikeNamesAreOneAccount()
    {
        auto accounts = Open();
        QCOMPARE(accounts->Register(" demo ", "demo123"), Result::Created);
        for (const char* lookAlike :
             {"demo", "Demo", "DEMO", "ｄｅｍｏ", "ＤＥＭＯ", "demo\u3000", "\u00A0demo"})
            QCOMPARE(accounts->Register(lookAlike, "other"), Result::Duplicate);
        QCOMPARE(accounts->Register("Иван", "ivan"), Result::Created);
        for (const char* lookAlike : {"иван", "ИВАН", "иВАН "})
            QCOMPARE(accounts->Register(lookAlike, "other"), Result::Duplicate);
        QCOMPARE(accounts->Register("player1", "p1"), Result::Created);
        QCOMPARE(accounts->Register("ｐｌａｙｅｒ１", "p1"), Result::Duplicate);
        QCOMPARE(accounts->Register("player2", "p2"), Result::Created); // near is not the same

        // Any spelling that folds to an account logs into it, and only with its password.
        for (const char* spelling : {"demo", " demo", "DEMO", "ｄｅｍｏ"}) {
            QVERIFY2(accounts->Check(spelling, "demo123"), spelling);
            QVERIFY2(!accounts->Check(spelling, "other"), spelling);
        }
        QVERIFY(accounts->Check("ИВАН", "ivan"));
        QVERIFY(accounts->Check("ｐｌａｙｅｒ１", "p1"));
        QCOMPARE(Accounts::ComparisonKey(" ＤＥＭＯ\u3000"), std::string("demo"));
    }

    // Look-alike registrations racing from several objects (as from several servers) and
    // threads: exactly one wins.
    void racingRegistrationsCreateOneAccount()
    {
        std::vector<std::unique_ptr<Accounts>> servers;
        for (int i = 0; i < 3; ++i)
            servers.push_back(Open());
        const std::vector<std::string> spellings = {"race",     "RACE", "Race",  " race",
                                                    "ｒａｃｅ", "rAce", "racE ", "RaCe"};
        std::atomic<int> created{0}, duplicate{0}, other{0};
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < spellings.size(); ++i)
            threads.emplace_back([&, i] {
                const Result r = servers[i % servers.size()]->Register(spellings[i],
                                                                       "pw" + std::to_string(i));
                ++(r == Result::Created ? created : r == Result::Duplicate ? duplicate : other);
            });
        for (std::thread& t : threads)
            t.join();
        QCOMPARE(created.load(), 1);
        QCOMPARE(duplicate.load(), int(spellings.size()) - 1);
        QCOMPARE(other.load(), 0);

        // Logins from many threads at once on one object all get the right answer.
        std::atomic<int> right{0};
        threads.clear();
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&] {
                int accepted = 0;
                for (std::size_t s = 0; s < spellings.size(); ++s)
                    accepted += servers[0]->Check("race", "pw" + std::to_string(s));
                right += accepted == 1 && !servers[0]->Check("nobody", "pw0");
            });
        for (std::thread& t : threads)
            t.join();
        QCOMPARE(right.load(), 8);
    }
};

class SqliteAccountsFileTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void filesAreTheOwnersOnly()
    {
        const std::string path = m_dir.filePath(QStringLiteral("modes.db")).toStdString();
        Accounts accounts;
        QVERIFY(accounts.Open(path));
        QCOMPARE(accounts.Register("demo", "demo123"), Result::Created);
        // While the database is open in WAL mode, all three files exist.
        for (const char* suffix : {"", "-wal", "-shm"}) {
            const QFileInfo file(QString::fromStdString(path + suffix));
            QVERIFY2(file.exists(), suffix);
            QVERIFY2((file.permissions() & kNotOwner) == 0, suffix);
            QVERIFY2(file.permissions() & QFile::ReadOwner && file.permissions() & QFile::WriteOwner, suffix);
        }

        // A file an earlier version left readable by everyone is no longer.
        const QString old = m_dir.filePath(QStringLiteral("open.db"));
        QVERIFY(Sql(old.toStdString(), "CREATE TABLE t (x)"));
        QVERIFY(QFile::setPermissions(
            old, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        Accounts reopened;
        QVERIFY(reopened.Open(old.toStdString()));
        QCOMPARE(QFileInfo(old).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
    }

    // A file written before names were folded: its rows keep working, exact names first, and
    // new look-alikes of them are refused.
    void olderFileIsBroughtUpToDate()
    {
        const std::string path = m_dir.filePath(QStringLiteral("old.db")).toStdString();
        {
            // Real hashes from today's code, moved into the old table layout under names the
            // old rules let through.
            Accounts accounts;
            QVERIFY(accounts.Open(path));
            QCOMPARE(accounts.Register("Иван", "first"), Result::Created);
            QCOMPARE(accounts.Register("second", "second"), Result::Created);
            QCOMPARE(accounts.Register("demo", "demo123"), Result::Created);
        }
        QVERIFY(Sql(path,
                    "CREATE TABLE old (name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
                    " salt BLOB NOT NULL, hash BLOB NOT NULL, iterations INTEGER NOT NULL,"
                    " created TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP);"
                    "INSERT INTO old (name, salt, hash, iterations)"
                    " SELECT CASE name WHEN 'second' THEN 'иван' WHEN 'demo' THEN 'demo ' ELSE name END,"
                    " salt, hash, iterations FROM accounts;"
                    "DROP TABLE accounts; ALTER TABLE old RENAME TO accounts;"));

        for (int reopen = 0; reopen < 2; ++reopen) {
            Accounts accounts;
            std::string error;
            QVERIFY2(accounts.Open(path, &error), error.c_str());
            QVERIFY(accounts.Check("Иван", "first"));
            QVERIFY(accounts.Check("иван", "second"));
            QVERIFY(!accounts.Check("иван", "first"));
            // Neither old row is plainly meant by a third spelling.
            QVERIFY(!accounts.Check("ИВАН", "first"));
            QVERIFY(!accounts.Check("ИВАН", "second"));
            QVERIFY(accounts.Check("demo ", "demo123"));
            QVERIFY(accounts.Check("DEMO", "demo123"));
            QCOMPARE(accounts.Register("иВАН", "third"), Result::Duplicate);
            QCOMPARE(accounts.Register("Demo", "third"), Result::Duplicate);
        }
        Accounts accounts;
        QVERIFY(accounts.Open(path));
        QCOMPARE(accounts.Register("newcomer", "new"), Result::Created);
        QVERIFY(accounts.Check("NEWCOMER", "new"));
    }

    void unusableFileIsReported()
    {
        Accounts accounts;
        std::string error;
        QVERIFY(!accounts.Open(m_dir.filePath(QStringLiteral("no/such/folder/a.db")).toStdString(), &error));
        QVERIFY(!error.empty());
        QCOMPARE(accounts.Register("demo", "demo123"), Result::StorageError);
        QVERIFY(!accounts.Check("demo", "demo123"));

        const QString notDb = m_dir.filePath(QStringLiteral("text.db"));
        QVERIFY(writeFile(notDb, QByteArray(4096, 'x')));
        QVERIFY(!accounts.Open(notDb.toStdString(), &error));
        QVERIFY2(error.find("text.db") != std::string::npos, error.c_str());
        QCOMPARE(QFileInfo(notDb).size(), 4096); // left as it was
    }
};

YFZS_TEST_CLASS(AccountsTest)
YFZS_TEST_CLASS(SqliteAccountsFileTest)
#include "accounts_test.moc"
