#include "testrunner.h"

#include "config/programdir.h"
#include "fakeservicehost.h"
#include "recordingui.h"
#include "service/identity.h"
#include "service/serviceclient.h"
#include "service/timings.h"
#include "servicefixture.h"

#include <QTest>

#include <memory>

namespace {

const QString kRefused = u"message 登陆失败，用户名或密码错误!"_qs;
const QString kEmpty = u"message 用户名或密码不能为空!"_qs;

const QStringList kLoggedInArea{
    u"hide LoginButton"_qs,   u"hide RegisterButton"_qs, u"hide AccountLabel"_qs,
    u"hide PasswordLabel"_qs, u"hide AccountBox"_qs,     u"hide PasswordBox"_qs,
};

QStringList loggedIn(const QString& account)
{
    return kLoggedInArea
        + QStringList{u"welcome 欢迎你：%1 630,64 120x16"_qs.arg(account), u"show WelcomeText"_qs,
                      u"show LogoutButton"_qs};
}

// Accepts exactly `account` with `password`; every other login is refused.
FakeServiceHost::Responder accounts(const QString& account, const QString& password)
{
    return [=](const QByteArray& request) {
        const QStringList fields = fixture::RequestFields(request);
        const bool ok = fields.size() == 7 && fields.at(4) == account && fields.at(5) == password;
        return FakeServiceHost::Answer{fixture::Reply({ok ? u"1"_qs : u"0"_qs, u"~"_qs})};
    };
}

void remember(const QString& uid, const QString& mac, const QString& uwd)
{
    fixture::SetConfigValue(u"system"_qs, u"UID"_qs, uid);
    fixture::SetConfigValue(u"system"_qs, u"MAC"_qs, mac);
    fixture::SetConfigValue(u"system"_qs, u"UWD"_qs, uwd);
    fixture::SetConfigValue(u"system"_qs, u"ISLOGIN"_qs, u"1"_qs);
}

QStringList remembered()
{
    QStringList values;
    for (const char* key : {"UID", "MAC", "UWD", "ISLOGIN"})
        values << fixture::ConfigValue(u"system"_qs, QString::fromLatin1(key));
    return values;
}

} // namespace

class LoginTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_workDir;

private slots:
    void init() { fixture::Reset(m_workDir); }
    void cleanup() { fixture::Restore(); }

    void acceptedAndRemembered()
    {
        FakeServiceHost host(accounts(u"player"_qs, u"secret"_qs));
        host.pointClientHere();
        {
            RecordingUi ui;
            service::ServiceClient client(ui);
            fixture::PressLogin(ui, client, u"player"_qs, u"secret"_qs);
            QCOMPARE(ui.calls,
                     QStringList{u"readBoxes"_qs} + loggedIn(u"player"_qs) + QStringList{u"loginDone"_qs});
            QVERIFY(!ui.calledOffThread);
        }
        QCOMPARE(remembered(), QStringList({u"player"_qs, GetMacAddress(), u"c2VjcmV0"_qs, u"1"_qs}));
        QCOMPARE(fixture::KeysInFileOrder(config::GetConfigPath(), u"system"_qs),
                 QStringList({u"UID"_qs, u"MAC"_qs, u"UWD"_qs, u"ISLOGIN"_qs}));

        // The next start logs in by itself, with the boxes left alone.
        RecordingUi ui;
        service::ServiceClient client(ui);
        client.StartStartupWorker();
        fixture::WaitForWorkers(client);
        QCOMPARE(ui.calls,
                 QStringList{u"texts player/secret"_qs} + loggedIn(u"player"_qs)
                     + QStringList{u"loginDone"_qs});
        QCOMPARE(ui.boxAccount, QString());
        const QList<QByteArray> requests = host.requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.at(0), requests.at(1));
        QCOMPARE(fixture::RequestFields(requests.at(0)).mid(2, 2),
                 QStringList({GetMacAddress(), GetLocalIp()}));

        // F11 after an automatic login: the boxes are empty.
        ui.calls.clear();
        client.OnLogin();
        QCOMPARE(ui.calls, QStringList({u"readBoxes"_qs, kEmpty}));
        QCOMPARE(client.RunningWorkers(), 0);
    }

    void requestCountsGbkBytes()
    {
        fixture::HostedClient hosted(accounts(u"张三"_qs, u"密码pw"_qs));
        auto& [host, ui, client] = hosted;
        fixture::PressLogin(ui, client, u"张三"_qs, u"密码pw"_qs);
        QCOMPARE(ui.calls.mid(1, 7), loggedIn(u"张三"_qs).mid(0, 7));

        const QByteArray request = host.requests().value(0);
        const QString text = QString(QChar(0x11));
        const QString tail = text + GetMacAddress() + text + GetLocalIp() + text + u"张三"_qs + text
            + u"密码pw"_qs + text + u"~"_qs;
        const qsizetype units = 3 + 1 + 10 + tail.size();
        const QString length = QString::number(units + 4).rightJustified(10, u'0');
        QCOMPARE(fixture::RequestFields(request).at(1), length);
        QCOMPARE(request.size(), units + 4 + 2);
        QVERIFY(request.endsWith(QByteArray("~\0\0", 3)));
        // The password is kept as Base64 of its low bytes: it no longer matches.
        QVERIFY(fixture::ConfigValue(u"system"_qs, u"UWD"_qs) != u"5a+G56CBcHc="_qs);
    }

    void refusedClearsAfterMessage()
    {
        remember(u"old"_qs, GetMacAddress(), u"b2xk"_qs);
        fixture::HostedClient hosted(accounts(u"player"_qs, u"secret"_qs));
        auto& [host, ui, client] = hosted;
        QStringList whileShown;
        ui.onMessage = [&](const QString&) { whileShown = remembered(); };
        fixture::PressLogin(ui, client, u"player"_qs, u"wrong"_qs);

        QCOMPARE(ui.calls, QStringList({u"readBoxes"_qs, kRefused, u"loginDone"_qs}));
        QCOMPARE(whileShown, QStringList({u"old"_qs, GetMacAddress(), u"b2xk"_qs, u"1"_qs}));
        QCOMPARE(remembered(), QStringList({QString(), QString(), QString(), u"0"_qs}));
    }

    void shortOrMissingReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("three fields") << fixture::Reply({}) << QStringList{kRefused};
        QTest::newRow("one byte") << QByteArray("1") << QStringList();
        QTest::newRow("closed") << QByteArray() << QStringList();
    }

    void shortOrMissingReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, calls);
        remember(u"old"_qs, GetMacAddress(), u"b2xk"_qs);
        fixture::HostedClient hosted(FakeServiceHost::Always({reply}));
        auto& [host, ui, client] = hosted;
        fixture::PressLogin(ui, client, u"player"_qs, u"secret"_qs);
        QCOMPARE(ui.calls, QStringList{u"readBoxes"_qs} + calls + QStringList{u"loginDone"_qs});
        QCOMPARE(remembered(), QStringList({u"old"_qs, GetMacAddress(), u"b2xk"_qs, u"1"_qs}));
    }

    void unreachableIsSilent()
    {
        EnvGuard env;
        fixture::PointClientAtClosedPort(env);
        RecordingUi ui;
        service::ServiceClient client(ui);
        fixture::PressLogin(ui, client, u"player"_qs, u"secret"_qs);
        QCOMPARE(ui.calls, QStringList({u"readBoxes"_qs, u"loginDone"_qs}));
        QCOMPARE(fixture::ConfigValue(u"system"_qs, u"UID"_qs), u"<missing>"_qs);
    }

    void emptyTexts()
    {
        fixture::HostedClient hosted(accounts(u"player"_qs, u"secret"_qs));
        auto& [host, ui, client] = hosted;
        for (const auto& [account, password] :
             {std::pair{u""_qs, u"secret"_qs}, std::pair{u"player"_qs, u""_qs}}) {
            ui.calls.clear();
            ui.boxAccount = account;
            ui.boxPassword = password;
            client.OnLogin();
            QCOMPARE(ui.calls, QStringList({u"readBoxes"_qs, kEmpty}));
            QCOMPARE(client.RunningWorkers(), 0);
        }
        // Only emptiness counts: the placeholder goes out as an account name.
        ui.calls.clear();
        ui.ShowAccountPrompt();
        ui.boxPassword = u"x"_qs;
        client.OnLogin();
        fixture::WaitForWorkers(client);
        QCOMPARE(host.requests().size(), 1);
        QCOMPARE(fixture::RequestFields(host.requests().at(0)).at(4), u"请输入qx77通行证"_qs);
    }

    void startupDecision_data()
    {
        QTest::addColumn<bool>("configExists");
        QTest::addColumn<QString>("mac");
        QTest::addColumn<bool>("logsIn");
        QTest::newRow("no config.ini") << false << QString() << false;
        QTest::newRow("this machine") << true << GetMacAddress() << true;
        QTest::newRow("another machine") << true << u"0-1a-2b-3-4-ff"_qs << false;
        QTest::newRow("default MAC text") << true << u"0"_qs << false;
    }

    void startupDecision()
    {
        QFETCH(bool, configExists);
        QFETCH(QString, mac);
        QFETCH(bool, logsIn);
        if (configExists)
            remember(u"player"_qs, mac, u"c2VjcmV0"_qs);
        fixture::HostedClient hosted(accounts(u"player"_qs, u"secret"_qs));
        auto& [host, ui, client] = hosted;
        client.StartStartupWorker();
        fixture::WaitForWorkers(client);

        QCOMPARE(host.requests().size(), 1);
        const QStringList request = fixture::RequestFields(host.requests().at(0));
        if (logsIn) {
            QCOMPARE(request.at(0), u"^12"_qs);
            QCOMPARE(request.mid(4, 2), QStringList({u"player"_qs, u"secret"_qs}));
            QCOMPARE(ui.calls.first(), u"texts player/secret"_qs);
            QCOMPARE(ui.calls.last(), u"loginDone"_qs);
            return;
        }
        QCOMPARE(request.at(0), u"^11"_qs);
        QCOMPARE(ui.calls, QStringList{u"prompt"_qs}); // the check answers "no newer version"
        QCOMPARE(ui.boxAccount, u"请输入qx77通行证"_qs);
        QCOMPARE(remembered(),
                 QStringList({QString(), QString(), QString(), configExists ? u"1"_qs : u"<missing>"_qs}));
        if (!configExists) {
            QCOMPARE(fixture::KeysInFileOrder(config::GetConfigPath(), u"system"_qs),
                     QStringList({u"UID"_qs, u"MAC"_qs, u"UWD"_qs}));
        }
    }

    void logoutAndRegister()
    {
        remember(u"player"_qs, GetMacAddress(), u"c2VjcmV0"_qs);
        EnvGuard env;
        env.Set("QX77_FORUM_URL", "http://forum.test:8089/");
        fixture::HostedClient hosted(accounts(u"player"_qs, u"secret"_qs));
        auto& [host, ui, client] = hosted;
        ui.boxAccount = u"player"_qs;
        client.OnLogout();
        client.OnRegister();

        QCOMPARE(ui.calls,
                 QStringList({u"show LoginButton"_qs, u"show RegisterButton"_qs, u"reload"_qs,
                              u"show AccountLabel"_qs, u"show PasswordLabel"_qs, u"clearBoxes"_qs,
                              u"show AccountBox"_qs, u"show PasswordBox"_qs, u"hide WelcomeText"_qs,
                              u"hide LogoutButton"_qs,
                              u"open http://forum.test:8089/member.php?mod=register"_qs}));
        QCOMPARE(ui.boxAccount, QString());
        QCOMPARE(remembered(), QStringList({QString(), QString(), QString(), u"0"_qs}));
        QCOMPARE(host.requests().size(), 0);
    }

    void loginAndUpdateCheckAtOnce()
    {
        // Neither is answered until both requests are in, each on its own connection. The
        // wait is long so that a slow machine cannot make one exchange give up first.
        service::Timings timings = service::CurrentTimings();
        timings.reply = std::chrono::seconds(20);
        service::SetTimings(timings);
        fixture::HostedClient hosted(
            FakeServiceHost::ByKind({{"^12", {fixture::Reply({u"1"_qs})}}}, {fixture::Reply({u"0"_qs})}), 2);
        auto& [host, ui, client] = hosted;
        ui.boxAccount = u"player"_qs;
        ui.boxPassword = u"secret"_qs;
        client.OnLogin();
        client.OnCheckUpdate();
        fixture::WaitForWorkers(client);

        QVERIFY2(host.requests().size() == 2, qPrintable(ui.calls.join(u'|')));
        QStringList codes;
        for (const QByteArray& request : host.requests())
            codes << fixture::RequestFields(request).at(0);
        codes.sort();
        QCOMPARE(codes, QStringList({u"^11"_qs, u"^12"_qs}));
        QVERIFY(ui.calls.contains(u"message 当前已经是最新版本!"_qs));
        QVERIFY(ui.calls.contains(u"show LogoutButton"_qs));
        QCOMPARE(ui.calls.last(), u"loginDone"_qs);
    }

    void workerOutlivesClient()
    {
        fixture::ShortReplyWait();
        FakeServiceHost host(FakeServiceHost::Always({{}, true}));
        host.pointClientHere();
        RecordingUi ui;
        ui.boxAccount = u"player"_qs;
        ui.boxPassword = u"secret"_qs;
        auto client = std::make_unique<service::ServiceClient>(ui);
        client->OnLogin();
        QTRY_COMPARE(host.requests().size(), 1);
        client.reset();

        // The worker gives up on the silent host and its login-done no longer reaches anyone.
        QTRY_COMPARE(host.connectionsClosedByPeer(), 1);
        QTest::qWait(200);
        QCOMPARE(ui.calls, QStringList{u"readBoxes"_qs});
    }
};

YFZS_TEST_CLASS(LoginTest)
#include "login_test.moc"
