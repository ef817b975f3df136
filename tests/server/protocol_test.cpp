#include "testrunner.h"

#include "gbk.h"
#include "serviceprotocol.h"
#include "versioncatalogue.h"

#include <QTest>

Q_DECLARE_METATYPE(std::string)

namespace {

std::string Text(const std::optional<std::string>& wire)
{
    return wire ? wire->substr(0, wire->find('\0')) : std::string();
}

} // namespace

class ServiceProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    // The program's worked example pins the request builder the other tests rely on.
    void requestLayoutMatchesTheProgram()
    {
        const auto wire = svc::BuildRequest("11", {"0-1a-2b-3-4-ff", "192.168.1.5", "", ""});
        QVERIFY(wire);
        const std::string expected = "^11\x11"
                                     "0000000045\x11"
                                     "0-1a-2b-3-4-ff\x11"
                                     "192.168.1.5\x11\x11\x11~";
        QCOMPARE(wire->size(), std::size_t(47));
        QCOMPARE(wire->substr(0, 45), expected);
        QCOMPARE(wire->substr(45), std::string(2, '\0'));
        const auto parsed = svc::ParseRequest(expected);
        QVERIFY2(parsed.request, parsed.error.c_str());
        QCOMPARE(parsed.request->fields, (std::vector<std::string>{"0-1a-2b-3-4-ff", "192.168.1.5", "", ""}));
    }

    // Login counts GBK bytes, the update check UTF-16 units; each is refused under the other rule.
    void lengthRulesDifferByCommand()
    {
        const std::string login = Text(svc::BuildRequest("12", {"m", "1.2.3.4", "张三", "pw"}));
        const std::string update = Text(svc::BuildRequest("11", {"m", "1.2.3.4", "版本", "v"}));
        QCOMPARE(std::stoul(login.substr(4, 10)), login.size());
        QCOMPARE(std::stoul(update.substr(4, 10)), update.size() - 2); // two characters of two bytes
        QVERIFY(svc::ParseRequest(login).request);
        QVERIFY(svc::ParseRequest(update).request);
        QCOMPARE(svc::ParseRequest(login).request->fields[2], std::string("张三"));

        std::string swapped = update;
        swapped.replace(4, 10, "00000000" + std::to_string(update.size()));
        QVERIFY(!svc::ParseRequest(swapped).request);
    }

    void malformedRequestsAreRefused_data()
    {
        QTest::addColumn<std::string>("text");
        const std::string good = Text(svc::BuildRequest("12", {"m", "ip", "user", "pw"}));
        QTest::newRow("empty") << std::string();
        QTest::newRow("no caret") << good.substr(1);
        QTest::newRow("unknown command") << ("^13" + good.substr(3));
        QTest::newRow("no tilde") << good.substr(0, good.size() - 1);
        QTest::newRow("three data fields") << Text(svc::BuildRequest("12", {"m", "ip", "user"}));
        QTest::newRow("five data fields") << Text(svc::BuildRequest("12", {"m", "ip", "user", "pw", "x"}));
        std::string shortLength = good;
        shortLength.erase(4, 1);
        QTest::newRow("nine-digit length") << shortLength;
        std::string wrongLength = good;
        wrongLength[13] = wrongLength[13] == '9' ? '8' : static_cast<char>(wrongLength[13] + 1);
        QTest::newRow("wrong length value") << wrongLength;
        std::string letters = good;
        letters.replace(4, 10, "00000000x1");
        QTest::newRow("letters in length") << letters;
        std::string badGbk = Text(svc::BuildRequest("12", {"m", "ip", "ab", "pw"}));
        badGbk.replace(badGbk.find("\x11"
                                   "ab\x11")
                           + 1,
                       2, "\x81\x7F"); // 0x7F is never a trail byte
        QTest::newRow("invalid GBK") << badGbk;
        QTest::newRow("oversized") << (good + std::string(svc::kMaxRequestBytes, 'x'));
    }

    void malformedRequestsAreRefused()
    {
        QFETCH(std::string, text);
        const auto parsed = svc::ParseRequest(text);
        QVERIFY(!parsed.request);
        QVERIFY(!parsed.error.empty());
    }

    void replyPutsFlagAndReleaseWhereTheProgramReadsThem()
    {
        const auto wire = svc::BuildReply("11", {"0-1a", "1", "20261201", "1.2.0", "http://h/新版.zip"});
        QVERIFY(wire);
        QVERIFY(wire->size() <= svc::kMaxReplyBytes);
        const std::string text = wire->substr(0, wire->find('\0'));
        QCOMPARE(wire->size(), text.size() + 2);
        const std::string utf8 = gbk::ToUtf8(text).value_or("");
        const auto fields = svc::SplitFields(utf8);
        QCOMPARE(fields.size(), std::size_t(8));
        QCOMPARE(std::stoul(std::string(fields[1])), text.size());
        QCOMPARE(fields,
                 (std::vector<std::string_view>{"^11", fields[1], "0-1a", "1", "20261201", "1.2.0",
                                                "http://h/新版.zip", "~"}));

        QVERIFY(!svc::BuildReply("11", {"m", "1", "s", "v", std::string(600, 'a')}));
        QVERIFY(!svc::BuildReply("12", {"m", "1", "😀"})); // not encodable in GBK
    }

    void clientAgeAgainstRelease_data()
    {
        QTest::addColumn<std::string>("version");
        QTest::addColumn<std::string>("sertime");
        QTest::addColumn<bool>("older");
        QTest::newRow("fresh installation") << std::string() << std::string() << true;
        QTest::newRow("lower patch") << std::string("1.2.0") << std::string("20261201") << true;
        QTest::newRow("numeric parts, lower") << std::string("1.9.9") << std::string("20261201") << true;
        QTest::newRow("numeric parts, higher") << std::string("1.10.10") << std::string("20261201") << false;
        QTest::newRow("same version and time") << std::string("1.10.1") << std::string("20261201") << false;
        QTest::newRow("missing part is zero") << std::string("1.10.1.0") << std::string("20261201") << false;
        QTest::newRow("same version, older time") << std::string("1.10.1") << std::string("20261130") << true;
        QTest::newRow("same version, shorter time")
            << std::string("1.10.1") << std::string("9999999") << true;
        QTest::newRow("same version, no time") << std::string("1.10.1") << std::string() << true;
        QTest::newRow("newer version") << std::string("2.0") << std::string() << false;
    }

    void clientAgeAgainstRelease()
    {
        QFETCH(std::string, version);
        QFETCH(std::string, sertime);
        QFETCH(bool, older);
        QCOMPARE(IsOlder(version, sertime, Release{"1.10.1", "20261201", "x"}), older);
    }
};

YFZS_TEST_CLASS(ServiceProtocolTest)
#include "protocol_test.moc"
