#include "testrunner.h"

#include "packcatalogue.h"
#include "serverfixture.h"
#include "serviceprotocol.h"
#include "testfiles.h"
#include "versioncatalogue.h"

#include <QTest>

#include <atomic>
#include <thread>

namespace {

std::vector<std::string> UpdateCheck(int port, const std::string& sertime, const std::string& version)
{
    const auto request = svc::BuildRequest(svc::kUpdateCode,
                                           {"0-1a-2b-3-4-ff", "127.0.0.1", sertime, version});
    return ReplyFields(Exchange(port, *request));
}

} // namespace

class ServiceHostTest : public QObject
{
    Q_OBJECT

    RunningServer m_server;
    int m_port = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.Start());
        m_port = m_server.service->Port();
    }

    void registrationThenLoginOverTcp()
    {
        QCOMPARE(Register(m_server.tool->Port(), "玩家01", "pw-123!")->status, 200);
        // The user name travels in GBK; names fold, passwords do not.
        for (const auto& [user, password, flag] : {std::tuple{"玩家01", "pw-123!", "1"},
                                                   {"玩家01", "pw-123", "0"},
                                                   {"玩家02", "pw-123!", "0"},
                                                   {"demo", "demo123", "1"},
                                                   {"DEMO", "demo123", "1"},
                                                   {"demo", "DEMO123", "0"}})
            QVERIFY2(LoginFlag(m_port, user, password) == flag, user);
    }

    void replyIsLaidOutLikeARequest()
    {
        const std::string reply = Exchange(
            m_port, *svc::BuildRequest("12", {"0-1a-2b-3-4-ff", "ip", "demo", "demo123"}));
        QVERIFY(reply.size() <= svc::kMaxReplyBytes);
        QVERIFY(reply.size() > 2 && reply.compare(reply.size() - 2, 2, std::string(2, '\0')) == 0);
        const auto fields = ReplyFields(reply);
        QCOMPARE(fields.size(), std::size_t(5));
        QCOMPARE(fields[0], std::string("^12"));
        QCOMPARE(std::stoul(fields[1]), reply.size() - 2);
        QCOMPARE(fields[2], std::string("0-1a-2b-3-4-ff"));
        QCOMPARE(fields.back(), std::string("~"));
    }

    void updateCheckAnswersYesOnlyForOlderClients()
    {
        const auto release = LoadRelease(m_server.DataDir() + "/" + std::string(layout::kVersions));
        QVERIFY(release);

        const auto fresh = UpdateCheck(m_port, "", "");
        QCOMPARE(fresh.size(), std::size_t(8));
        QCOMPARE(fresh[3], std::string("1"));
        QCOMPARE(fresh[4], release->sertime);
        QCOMPARE(fresh[5], release->version);
        QCOMPARE(fresh[6], release->clientadd);

        QCOMPARE(UpdateCheck(m_port, release->sertime, release->version)[3], std::string("0"));
        QCOMPARE(UpdateCheck(m_port, "", "99.0")[3], std::string("0"));
    }

    void brokenCatalogueAnswersNoAndKeepsServing()
    {
        const QString path = QString::fromStdString(m_server.DataDir() + "/"
                                                    + std::string(layout::kVersions));
        const QByteArray saved = readFile(path);

        QVERIFY(SaveRelease(path.toStdString(), {"9.0", "1", std::string(600, 'x')})); // too long for a reply
        QCOMPARE(UpdateCheck(m_port, "", "")[3], std::string("0"));
        QVERIFY(writeFile(path, "{ not json"));
        QCOMPARE(UpdateCheck(m_port, "", "")[3], std::string("0"));

        QVERIFY(writeFile(path, saved));
        QCOMPARE(UpdateCheck(m_port, "", "")[3], std::string("1"));
    }

    // Every bad request still gets a "no" and a closed connection, and the host keeps serving.
    void badRequestsAreAnsweredNo()
    {
        const std::string login = *svc::BuildRequest("12", {"m", "ip", "demo", "demo123"});
        const std::vector<std::string> bad = {
            std::string("hello\0\0", 7),
            login.substr(0, 20),                                       // cut short, then closed
            std::string(100 * 1024, 'x'),                              // oversized without terminator
            "^12\x11" + std::string(2000, '9') + std::string(2, '\0'), // oversized length field
            std::string(),                                             // says nothing at all
            "^11\x11"
            "0000000010\x11~"
                + std::string(2, '\0'),
        };
        for (const std::string& request : bad) {
            const std::string reply = Exchange(m_port, request);
            QVERIFY(reply.size() <= svc::kMaxReplyBytes);
            const auto fields = ReplyFields(reply);
            QVERIFY2(fields.size() >= 4, reply.c_str());
            QCOMPARE(fields[3], std::string("0"));
        }
        QCOMPARE(LoginFlag(m_port, "demo", "demo123"), std::string("1"));
    }

    void twoHundredLoginsFromTwentyThreads()
    {
        std::atomic<int> accepted{0}, refused{0}, unanswered{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 20; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 10; ++i) {
                    const bool right = (t + i) % 5 != 0;
                    const std::string flag = LoginFlag(m_port, "demo", right ? "demo123" : "wrong");
                    if (flag.empty())
                        ++unanswered;
                    else if ((flag == "1") == right)
                        ++(right ? accepted : refused);
                }
            });
        }
        for (std::thread& t : threads)
            t.join();
        QCOMPARE(unanswered.load(), 0);
        QCOMPARE(accepted.load(), 160);
        QCOMPARE(refused.load(), 40);
    }
};

YFZS_TEST_CLASS(ServiceHostTest)
#include "service_test.moc"
