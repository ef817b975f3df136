#include "testenv.h"
#include "testrunner.h"

#include "addresses.h"

#include <QTest>

// The tool server and the service host may live apart; with only QX77_HOST they are one.
class AddressesTest : public QObject
{
    Q_OBJECT

private slots:
    void serviceHostDefaultsToTheToolHost()
    {
        EnvGuard env;
        env.Unset("QX77_HOST");
        env.Unset("QX77_SERVICE_HOST");
        env.Set("QX77_TOOL_PORT", "8090");
        QCOMPARE(config::addresses::ServiceHost(), u"127.0.0.1"_qs);
        QCOMPARE(config::addresses::ToolPageUrl(), u"http://127.0.0.1:8090/CF20/CF_Index.aspx"_qs);

        env.Set("QX77_HOST", " cdn.example.com ");
        env.Set("QX77_SERVICE_HOST", "  ");
        QCOMPARE(config::addresses::ToolHost(), u"cdn.example.com"_qs);
        QCOMPARE(config::addresses::ServiceHost(), u"cdn.example.com"_qs);

        env.Set("QX77_SERVICE_HOST", "login.example.com");
        QCOMPARE(config::addresses::ServiceHost(), u"login.example.com"_qs);
        QCOMPARE(config::addresses::ToolServerUrl(), u"http://cdn.example.com:8090"_qs);
        QCOMPARE(config::addresses::RepairArchiveUrl(), u"http://cdn.example.com:8090/cftoolweb/yxxf.zip"_qs);
    }
};

YFZS_TEST_CLASS(AddressesTest)
#include "addresses_test.moc"
