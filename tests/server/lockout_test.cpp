// Password guessing against one account from many addresses: guessers are held back, the
// owner is not.

#include "testrunner.h"

#include "serverfixture.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

class LoginLockoutTest : public QObject
{
    Q_OBJECT

private slots:
    // However the name is written, it is one account with one pause.
    void variantNamesShareOnePause()
    {
        RunningServer server;
        QVERIFY(server.Start([](ToolServer::Config&, ServiceHost::Config& c) {
            c.backoff = {3, 60s, 60s, 4, 1000};
        }));
        QCOMPARE(server.accounts.Register("victim2", "right-2"), Accounts::RegisterResult::Created);
        const int port = server.service->Port();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(LoginFlag(port, "victim2", "wrong", "127.0.0.2"), std::string("0"));
        for (const char* variant : {"victim2", " victim2", "victim2 ", "ＶＩＣＴＩＭ２", "VICTIM2"})
            QCOMPARE(LoginFlag(port, variant, "right-2", "127.0.0.2"), std::string("0"));
        QCOMPARE(LoginFlag(port, " ＶＩＣＴＩＭ２", "right-2", "127.0.0.3"), std::string("1"));
    }

    // A hundred addresses guess as fast as they can with the shipped limits; the owner, from
    // where it logged in before, keeps getting in at once. A stranger with the right password
    // waits until the account's hourly budget of failures drains.
    void strangersCannotLockTheOwnerOut()
    {
        RunningServer server;
        QVERIFY(server.Start([](ToolServer::Config&, ServiceHost::Config& c) {
            c.loginsPerSecond = ServiceHost::Config{}.loginsPerSecond;
            c.loginBurst = ServiceHost::Config{}.loginBurst;
            c.backoff = {};
        }));
        QCOMPARE(server.accounts.Register("owner", "owner-pw"), Accounts::RegisterResult::Created);
        const int port = server.service->Port();
        QCOMPARE(LoginFlag(port, "owner", "owner-pw", "127.0.0.2"), std::string("1"));

        std::atomic<bool> stop = false;
        std::atomic<int> guesses = 0, admitted = 0;
        std::vector<std::thread> attackers;
        for (int t = 0; t < 16; ++t)
            attackers.emplace_back([&, t] {
                for (int i = t; !stop; i += 16) {
                    const std::string from = "127.0.1." + std::to_string(1 + i % 100);
                    admitted += LoginFlag(port, "owner", "guess" + std::to_string(i), from) == "1";
                    ++guesses;
                }
            });
        QTest::qWait(1500); // the budget is spent within this
        qint64 slowest = 0;
        for (int i = 0; i < 10; ++i) {
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(LoginFlag(port, "owner", "owner-pw", "127.0.0.2"), std::string("1"));
            slowest = std::max(slowest, timer.elapsed());
            QTest::qWait(200);
        }
        const bool strangerHeld = LoginFlag(port, "owner", "owner-pw", "127.0.0.3") == "0";
        stop = true;
        for (auto& attacker : attackers)
            attacker.join();
        qInfo("%d guesses; the owner's slowest login took %lld ms", guesses.load(), slowest);
        QCOMPARE(admitted.load(), 0);
        QVERIFY(guesses > 200);
        QVERIFY(strangerHeld);
        QVERIFY2(slowest < 1000, "the owner waited behind the guessers");
    }
};

YFZS_TEST_CLASS(LoginLockoutTest)
#include "lockout_test.moc"
