#include "testrunner.h"

#include "fakeservicehost.h"
#include "platform/codec.h"
#include "platform/networkidentity.h"
#include "service/base64.h"
#include "service/connection.h"
#include "service/identity.h"
#include "service/message.h"
#include "service/timings.h"
#include "servicefixture.h"

#include <QElapsedTimer>
#include <QTest>

#include <array>
#include <latch>
#include <optional>
#include <thread>
#include <vector>

namespace {

const QString dc1(service::kSeparator);

// The worked example: a fresh installation's update-check request.
const QString kWorkedExample = u"^11"_qs + dc1 + u"0000000045"_qs + dc1 + u"0-1a-2b-3-4-ff"_qs + dc1
    + u"192.168.1.5"_qs + dc1 + dc1 + dc1 + u"~"_qs;

std::optional<QString> exchangeWith(const QByteArray& reply, bool hang = false)
{
    FakeServiceHost host(FakeServiceHost::Always({reply, hang}));
    host.pointClientHere();
    service::ServiceConnection connection;
    if (!connection.ConnectServer([](const QString& text) { qWarning() << text; }))
        return QStringLiteral("<not connected>");
    return connection.Exchange(kWorkedExample);
}

} // namespace

Q_DECLARE_METATYPE(std::optional<QString>)

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        service::SetTimings({std::chrono::milliseconds(5000), std::chrono::milliseconds(5000),
                             std::chrono::milliseconds(20)});
    }

    // Every separator starts a field, empty or not; field 3 keeps what follows the third.
    void splitString()
    {
        const QList<std::pair<QString, QStringList>> cases = {
            {QString(), {QString()}},
            {u"a"_qs + dc1 + dc1 + u"b"_qs, {u"a"_qs, QString(), u"b"_qs}},
            {u"a"_qs + dc1, {u"a"_qs, QString()}},
            {dc1, {QString(), QString()}},
            {u"^12"_qs + dc1 + u"x"_qs + dc1 + dc1 + u"1 ~"_qs, {u"^12"_qs, u"x"_qs, QString(), u"1 ~"_qs}},
        };
        for (const auto& [text, expected] : cases) {
            QStringList fields{u"stale"_qs};
            QCOMPARE(SplitString(text, service::kSeparator, fields), int(expected.size()));
            QCOMPARE(fields, expected);
        }
    }

    void base64Encode()
    {
        QCOMPARE(Base64Encode(QString()), QString());
        QCOMPARE(Base64Encode(u"a"_qs), u"YQ=="_qs);
        QCOMPARE(Base64Encode(u"ab"_qs), u"YWI="_qs);
        QCOMPARE(Base64Encode(u"abc"_qs), u"YWJj"_qs);
        QCOMPARE(Base64Encode(u"Man is"_qs), u"TWFuIGlz"_qs);
        QCOMPARE(Base64Encode(u"\u00ff\u00fe\u00fd"_qs), u"//79"_qs);
        // Only the low byte of a unit counts: 中 is U+4E2D, so it encodes like "-".
        QCOMPARE(Base64Encode(u"中"_qs), Base64Encode(u"-"_qs));
        QCOMPARE(Base64Encode(QString(QChar(0x0141))), u"QQ=="_qs);
    }

    void base64Decode()
    {
        // Round trip of ASCII texts of every remainder length, with the alphabet's edges.
        const QString ascii = u"Az09+/ ~!pass\"word\\"_qs;
        for (qsizetype n = 0; n <= ascii.size(); ++n)
            QCOMPARE(Base64Decode(Base64Encode(ascii.left(n))), ascii.left(n));

        // Characters outside the alphabet are skipped inside a group.
        QCOMPARE(Base64Decode(u"YW\nJj"_qs), u"abc"_qs); // five characters, one group
        QCOMPARE(Base64Decode(u"YW*Jj\nZA=="_qs), u"abcd"_qs);
        // A zero byte ends the text.
        QCOMPARE(Base64Decode(u"YQBi"_qs), u"a"_qs);
        // The bytes are read as GBK: text remembered from GBK bytes comes back whole.
        const QByteArray gbk = platform::ToAnsi(u"中文"_qs);
        QCOMPARE(Base64Decode(QString::fromLatin1(gbk.toBase64())), u"中文"_qs);
        // Too short or cut off: what could be decoded, no crash.
        QCOMPARE(Base64Decode(u"YW"_qs), QString());
        QCOMPARE(Base64Decode(u"===="_qs), QString());
        QCOMPARE(Base64Decode(u"YWJjZA"_qs), u"abc"_qs);
        QCOMPARE(Base64Decode(u"Y***"_qs), QString());
    }

    void macText()
    {
        QCOMPARE(service::FormatMacAddress(QByteArray::fromHex("00000C07AC01")), u"0-0-c-7-ac-1"_qs);
        QCOMPARE(service::FormatMacAddress(QByteArray::fromHex("001A2B0304FF")), u"0-1a-2b-3-4-ff"_qs);
        QCOMPARE(service::FormatMacAddress(QByteArray()), u"0-0-0-0-0-0"_qs);

        // Many first users at once all get the same kept text, the adapter's.
        std::vector<QString> seen(8);
        std::vector<std::thread> threads;
        for (auto& slot : seen)
            threads.emplace_back([&slot] { slot = GetMacAddress(); });
        for (auto& thread : threads)
            thread.join();
        for (const QString& text : seen)
            QCOMPARE(text, service::FormatMacAddress(platform::AdapterHardwareAddress()));
        QVERIFY(!GetLocalIp().isEmpty());
    }

    void requestLayout()
    {
        QCOMPARE(service::BuildRequest(service::kUpdateCheckCode,
                                       {u"0-1a-2b-3-4-ff"_qs, u"192.168.1.5"_qs, QString(), QString()},
                                       service::LengthUnit::Utf16Units),
                 kWorkedExample);
        const QByteArray wire = service::EncodeRequest(kWorkedExample);
        QCOMPARE(wire.size(), 47);
        QVERIFY(wire.endsWith(QByteArray("~\0\0", 3)));

        // The login counts GBK bytes: two Chinese characters add two to the UTF-16 length.
        const QString login = service::BuildRequest(
            service::kLoginCode, {u"m"_qs, u"i"_qs, u"张三"_qs, u"pw"_qs}, service::LengthUnit::AnsiBytes);
        QCOMPARE(login.section(service::kSeparator, 1, 1).toInt(), login.size() + 2);
        QCOMPARE(platform::ToAnsi(login).size(), login.size() + 2);
        // The update check counts units, even for the same characters.
        const QString update = service::BuildRequest(service::kUpdateCheckCode, {u"张三"_qs},
                                                     service::LengthUnit::Utf16Units);
        QCOMPARE(update.section(service::kSeparator, 1, 1),
                 QString::number(update.size()).rightJustified(10, u'0'));
    }

    void requestOnTheWire()
    {
        FakeServiceHost host(FakeServiceHost::Always({"ok"}));
        host.pointClientHere();
        service::ServiceConnection connection;
        QVERIFY(connection.ConnectServer([](const QString&) {}));
        QCOMPARE(connection.Exchange(kWorkedExample), std::optional<QString>(u"ok"_qs));
        QCOMPARE(host.requests(), QList<QByteArray>{service::EncodeRequest(kWorkedExample)});
        QCOMPARE(host.requests().at(0).size(), 47);
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<std::optional<QString>>("reply");
        const std::optional<QString> none;
        QTest::newRow("closed without a byte") << QByteArray() << none;
        QTest::newRow("one byte") << QByteArray("1") << none;
        QTest::newRow("two bytes") << QByteArray("ab") << std::optional(u"ab"_qs);
        QTest::newRow("512 without a zero") << QByteArray(512, 'x') << std::optional(QString(512, u'x'));
        QTest::newRow("more than 512")
            << QByteArray(512, 'y') + QByteArray(300, 'z') << std::optional(QString(512, u'y'));
        QTest::newRow("cut at zero") << QByteArray("ab\0cd", 5) << std::optional(u"ab"_qs);
        QTest::newRow("zero first") << QByteArray("\0abc", 4) << std::optional(QString());
        QTest::newRow("GBK") << platform::ToAnsi(u"发现新版本"_qs) << std::optional(u"发现新版本"_qs);
    }

    void replies()
    {
        QFETCH(QByteArray, sent);
        QFETCH(std::optional<QString>, reply);
        QCOMPARE(exchangeWith(sent), reply);
    }

    void connectionsQueuedTogether()
    {
        // The host holds its answers until three requests are in. The first connection keeps
        // it reading until the other two have connected, so those two wait for it together.
        FakeServiceHost host(FakeServiceHost::Always({"ok"}), 3);
        host.pointClientHere();
        std::latch firstConnected(1), othersConnected(2);
        std::array<bool, 3> connected{};
        std::array<std::optional<QString>, 3> replies;
        auto exchange = [&](int index) {
            service::ServiceConnection connection;
            if (index > 0)
                firstConnected.wait();
            connected[index] = connection.ConnectServer([](const QString&) {});
            if (index == 0) {
                firstConnected.count_down();
                othersConnected.wait();
            } else {
                othersConnected.count_down();
            }
            replies[index] = connection.Exchange(kWorkedExample);
        };
        std::vector<std::thread> clients;
        for (int index = 0; index < 3; ++index)
            clients.emplace_back(exchange, index);
        for (std::thread& client : clients)
            client.join();

        QCOMPARE(connected, (std::array<bool, 3>{true, true, true}));
        QCOMPARE(host.requests().size(), 3);
        for (const std::optional<QString>& reply : replies)
            QCOMPARE(reply, std::optional<QString>(u"ok"_qs));
    }

    void silentPeerTimesOut()
    {
        const service::Timings saved = service::CurrentTimings();
        fixture::ShortReplyWait();
        FakeServiceHost host(FakeServiceHost::Always({{}, true}));
        host.pointClientHere();
        service::ServiceConnection connection;
        QVERIFY(connection.ConnectServer([](const QString&) {}));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(connection.Exchange(kWorkedExample), std::nullopt);
        QVERIFY(clock.elapsed() >= 250); // it did wait for a reply
        QTRY_COMPARE(host.connectionsClosedByPeer(), 1);
        service::SetTimings(saved);
    }

    void unreachableHost()
    {
        QStringList messages;
        auto sink = [&](const QString& text) { messages << text; };

        EnvGuard env;
        fixture::PointClientAtClosedPort(env);
        service::ServiceConnection refused;
        QVERIFY(!refused.ConnectServer(sink));
        QCOMPARE(refused.Exchange(kWorkedExample), std::nullopt);
        QCOMPARE(messages, QStringList()); // a refused connection is the exchange's to report

        env.Set("QX77_HOST", "no such host.invalid");
        service::ServiceConnection unresolved;
        QVERIFY(!unresolved.ConnectServer(sink));
        QCOMPARE(messages, QStringList{u"通讯服务器域名或者网络链接有误!"_qs});
    }
};

YFZS_TEST_CLASS(ProtocolTest)
#include "protocol_test.moc"
