#include "testrunner.h"

#include "accounts.h"
#include "clientaddress.h"
#include "hashpool.h"
#include "httpmessage.h"
#include "loginbackoff.h"
#include "peerlimits.h"

#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;

// The pieces the servers defend themselves with, driven with their own clocks.
class GuardsTest : public QObject
{
    Q_OBJECT

private slots:
    void connectionCapsPerPeerAndInTotal()
    {
        auto caps = std::make_shared<PeerConnections>(2, 3);
        auto a1 = caps->Take("a");
        auto a2 = caps->Take("a");
        QVERIFY(a1 && a2);
        QVERIFY(!caps->Take("a"));
        auto b1 = caps->Take("b");
        QVERIFY(b1);
        QVERIFY(!caps->Take("c")); // the server is full
        a1.reset();
        QCOMPARE(caps->Held("a"), 1);
        QVERIFY(caps->Take("c"));
        auto moved = std::move(*a2); // a moved slot is given back once, by its new holder
        a2.reset();
        QCOMPARE(caps->Held("a"), 1);
    }

    void rateAllowsABurstThenItsPace()
    {
        PeerRate rate(10, 5);
        const auto t0 = PeerRate::Clock::now();
        for (int i = 0; i < 5; ++i)
            QVERIFY(rate.Allow("p", t0));
        QVERIFY(!rate.Allow("p", t0));
        QVERIFY(rate.Allow("q", t0)); // peers do not share a bucket
        QVERIFY(!rate.Allow("p", t0 + 50ms));
        QVERIFY(rate.Allow("p", t0 + 110ms));
        QVERIFY(!rate.Allow("p", t0 + 120ms));
        for (int i = 0; i < 5; ++i) // a long pause refills the burst, no more
            QVERIFY(rate.Allow("p", t0 + 60s));
        QVERIFY(!rate.Allow("p", t0 + 60s));
    }

    // Streaks per (account, source), one budget per account, the owner's places exempt; the
    // account is its folded name whichever way it is written.
    void failedLoginsPauseSourcesThenStrangers()
    {
        QTemporaryDir dir;
        Accounts accounts;
        QVERIFY(accounts.Open(dir.filePath(u"a.db"_qs).toStdString()));
        LoginBackoff backoff({3, 1000ms, 4000ms, 2, 8}, accounts);
        using V = LoginBackoff::Verdict;
        const auto t0 = LoginBackoff::Clock::now();
        auto attempt = [&](std::string_view user, const std::string& from, auto at, bool ok) {
            const auto a = backoff.Begin(user, from, at);
            if (a.verdict == V::Check)
                backoff.End(a, from, true, ok, at);
            return a.verdict;
        };
        QCOMPARE(attempt("Demo", "owner", t0, true), V::Check); // the owner's place, from now on
        for (const char* name : {"demo", " DEMO", "ｄｅｍｏ"})  // the third failure starts a 1 s pause
            QCOMPARE(attempt(name, "a", t0, false), V::Check);
        QCOMPARE(attempt("demo ", "a", t0 + 999ms, true), V::SourcePaused);
        QCOMPARE(attempt("demo", "b", t0 + 999ms, false), V::Check); // other sources are not held
        QCOMPARE(attempt("demo", "a", t0 + 1s, false), V::Check);    // then 2 s
        QCOMPARE(attempt("demo", "a", t0 + 2999ms, false), V::SourcePaused);
        QCOMPARE(attempt("demo", "a", t0 + 3s, false), V::Check); // then 4 s, the ceiling
        QCOMPARE(attempt("demo", "a", t0 + 7s, false), V::Check);
        QCOMPARE(attempt("demo", "a", t0 + 10999ms, false), V::SourcePaused);

        // Seven failures so far; the eighth spends the hour's budget of eight for strangers.
        QCOMPARE(attempt("demo", "c", t0 + 11s, false), V::Check);
        QCOMPARE(attempt("demo", "d", t0 + 11s, true), V::AccountPaused);
        QCOMPARE(attempt("demo", "owner", t0 + 11s, true), V::Check);
        QCOMPARE(attempt("other", "d", t0 + 11s, true), V::Check);       // other accounts are not held up
        QCOMPARE(attempt("demo", "d", t0 + 11s + 450s, true), V::Check); // an eighth of an hour drains one

        // Checks by strangers running at once are capped; the owner's are not.
        const auto t1 = t0 + 2h;
        const auto x = backoff.Begin("demo", "x", t1), y = backoff.Begin("demo", "y", t1);
        QVERIFY(x.verdict == V::Check && y.verdict == V::Check);
        QCOMPARE(backoff.Begin("demo", "z", t1).verdict, V::Busy);
        QCOMPARE(attempt("demo", "owner", t1, true), V::Check);
        backoff.End(x, "x", false, false, t1); // dropped unchecked: no failure
        QCOMPARE(attempt("demo", "z", t1, true), V::Check);
        backoff.End(y, "y", false, false, t1);
    }

    // One thread, blocked in its first job: what runs next is every other peer's turn first.
    void hashPoolServesPeersInTurnAndStaysBounded()
    {
        HashPool pool({1, 6, 3});
        std::mutex m;
        std::condition_variable cv;
        bool started = false, release = false;
        std::vector<std::string> order;
        auto job = [&](std::string name) {
            return [&, name] {
                std::unique_lock lock(m);
                started = true;
                cv.notify_all();
                cv.wait(lock, [&] { return release; });
                order.push_back(name);
                cv.notify_all();
            };
        };
        QVERIFY(pool.Submit("flood", job("f0")));
        {
            std::unique_lock lock(m);
            QVERIFY(cv.wait_for(lock, 10s, [&] { return started; }));
        }
        QVERIFY(pool.Submit("flood", job("f1")));
        QVERIFY(pool.Submit("flood", job("f2")));
        QVERIFY(pool.Submit("flood", job("f3")));
        QVERIFY(!pool.Submit("flood", job("f4"))); // the peer's share of the queue is full
        QVERIFY(pool.Submit("player", job("p0")));
        QVERIFY(pool.Submit("other", job("o0")));
        QVERIFY(pool.Submit("other", job("o1")));
        QVERIFY(!pool.Submit("late", job("l0"))); // the whole queue is full
        {
            std::lock_guard lock(m);
            release = true;
        }
        cv.notify_all();
        {
            std::unique_lock lock(m);
            QVERIFY(cv.wait_for(lock, 10s, [&] { return order.size() == 7; }));
        }
        QCOMPARE(order, (std::vector<std::string>{"f0", "f1", "p0", "o0", "f2", "o1", "f3"}));
        pool.Stop();
        QVERIFY(!pool.Submit("flood", job("after")));
    }

    // What a proxy says about the client is read strictly; anything else gives no client.
    void proxyHeadersAndForwardedClients()
    {
        using State = ProxyHeader::State;
        QCOMPARE(ParseProxyHeader("PROXY TCP6 ::ffff:10.1.2.3 ::1 1 2\r\nrest").client,
                 std::string("10.1.2.3"));
        QCOMPARE(ParseProxyHeader("PROXY TCP4 10.1.2.3 10.0.0.1 1 2\r\n").length, std::size_t(34));
        QCOMPARE(ParseProxyHeader("PROXY UNKNOWN\r\n").state, State::Complete); // the proxy's own
        QCOMPARE(ParseProxyHeader("PROXY TCP4 10.1.2").state, State::NeedMore);
        QCOMPARE(ParseProxyHeader("PROXY TCP4 ::1 ::1 1 2\r\n").state, State::Invalid);
        QCOMPARE(ParseProxyHeader("PROXY TCP4 " + std::string(200, '1')).state, State::Invalid);
        QCOMPARE(ParseProxyHeader("PRO").state, State::NeedMore);
        QCOMPARE(ParseProxyHeader("0114\x11").state, State::Absent);
        const std::string local("\r\n\r\n\0\r\nQUIT\n\x20\x00\x00\x00", 16);
        QCOMPARE(ParseProxyHeader(local).state, State::Complete);
        QCOMPARE(ParseProxyHeader(local).client, std::string());
        QCOMPARE(ParseProxyHeader(local.substr(0, 14)).state, State::NeedMore);

        TrustedProxies trusted;
        QVERIFY(trusted.Add("10.0.0.0/8") && trusted.Add("::1") && !trusted.Add("10.0.0.0/33")
                && !trusted.Add("x"));
        QVERIFY(trusted.Contains("10.9.9.9") && trusted.Contains("::ffff:10.0.0.1")
                && trusted.Contains("::1"));
        QVERIFY(!trusted.Contains("11.0.0.1") && !trusted.Contains("::2"));
        auto client = [&](HttpFields fields) { return ForwardedClient(fields, trusted); };
        // The last address a proxy of ours did not add; what the client wrote before it is its own word.
        QCOMPARE(client({{"X-Forwarded-For", "1.1.1.1, 2.2.2.2"}, {"x-forwarded-for", "10.0.0.7"}}),
                 std::string("2.2.2.2"));
        QCOMPARE(client({{"X-Forwarded-For", "nonsense, 10.0.0.7"}, {"X-Real-IP", "3.3.3.3"}}),
                 std::string("3.3.3.3"));
        QCOMPARE(client({{"X-Real-IP", " 4.4.4.4 "}}), std::string("4.4.4.4"));
        QCOMPARE(client({{"X-Real-IP", "4.4.4.4\r\nX: y"}}), std::string());
    }

    void requestTextIsDecodedStrictly()
    {
        QCOMPARE(PercentDecode("/a%20b+c%2fd%zz%4", false), std::string("/a b+c/d%zz%4"));
        QCOMPARE(PercentDecode("a+b%2B", true), std::string("a b+"));
        QVERIFY(IsCleanPath("/CF20/页面.html"));
        for (const char* bad : {"/x.js%00.html", "/a%01", "/a%0Ab", "/a%7F", "/a%09"})
            QVERIFY2(!IsCleanPath(PercentDecode(bad, false)), bad);

        std::multimap<std::string, std::string> form;
        ParseForm("mod=register&username=%E7%8E%A9+1&&flag&password=a%26b", form);
        QCOMPARE(form.find("username")->second, std::string("玩 1"));
        QCOMPARE(form.find("password")->second, std::string("a&b"));
        QCOMPARE(form.count("flag"), std::size_t(1));

        const auto one = ParseRanges("bytes=10-19");
        QVERIFY(one && one->size() == 1 && *one->front().first == 10 && *one->front().last == 19);
        const auto open = ParseRanges("bytes=5-");
        QVERIFY(open && *open->front().first == 5 && !open->front().last);
        const auto suffix = ParseRanges("bytes=-7");
        QVERIFY(suffix && !suffix->front().first && *suffix->front().last == 7);
        QCOMPARE(ParseRanges("bytes=0-1, 4-5")->size(), std::size_t(2));
        for (const char* bad :
             {"bytes=", "bytes=-", "bytes=a-b", "items=1-2", "bytes=1-2-3", "bytes=99999999999999999999-"})
            QVERIFY2(!ParseRanges(bad), bad);
    }
};

YFZS_TEST_CLASS(GuardsTest)
#include "guards_test.moc"
