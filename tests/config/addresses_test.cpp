#include "testenv.h"
#include "testrunner.h"

#include "config/addresses.h"
#include "config/trust.h"
#include "testfiles.h"

#include <QTemporaryDir>
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
        QVERIFY(config::addresses::ToolUrlIsExposed());
    }

    // QX77_TOOL_URL carries the scheme; it outranks the older host and port, and what cannot
    // be used is ignored rather than spliced into an address.
    void toolUrlCarriesTheScheme()
    {
        EnvGuard env;
        env.Unset("QX77_SERVICE_HOST");
        env.Unset("QX77_TOOL_PORT");
        env.Set("QX77_HOST", "https://tools.example.com");
        env.Unset("QX77_TOOL_URL");
        QCOMPARE(config::addresses::ToolServerUrl(), u"http://127.0.0.1:8088"_qs);
        QVERIFY(!config::addresses::ToolUrlIsExposed());

        env.Set("QX77_HOST", "old.example.com");
        env.Set("QX77_TOOL_URL", " https://Tools.Example.com ");
        QCOMPARE(config::addresses::ToolScheme(), u"https"_qs);
        QCOMPARE(config::addresses::ToolPort(), quint16(443));
        QCOMPARE(config::addresses::ToolPageUrl(), u"https://tools.example.com:443/CF20/CF_Index.aspx"_qs);
        QCOMPARE(config::addresses::ServiceHost(), u"old.example.com"_qs);
        QVERIFY(!config::addresses::ToolUrlIsExposed());

        env.Unset("QX77_HOST");
        env.Set("QX77_TOOL_URL", "https://[::1]:8443/");
        QCOMPARE(config::addresses::RepairArchiveUrl(), u"https://[::1]:8443/cftoolweb/yxxf.zip"_qs);
        QCOMPARE(config::addresses::ServiceHost(), u"::1"_qs);

        for (const char* unusable :
             {"ftp://tools.example.com", "https://", "tools.example.com:443",
              "https://user:pw@tools.example.com", "https://tools.example.com/CF20/"}) {
            env.Set("QX77_TOOL_URL", unusable);
            QVERIFY2(config::addresses::ToolServerUrl() == u"http://127.0.0.1:8088"_qs, unusable);
        }
        env.Set("QX77_TOOL_URL", "http://10.0.0.5:8088");
        QVERIFY(config::addresses::ToolUrlIsExposed());
        env.Set("QX77_TOOL_URL", "http://localhost:8088");
        QVERIFY(!config::addresses::ToolUrlIsExposed());
    }

    void serviceTlsAndVendorCa()
    {
        EnvGuard env;
        env.Unset("QX77_SERVICE_TLS");
        QVERIFY(!config::addresses::ServiceTls());
        env.Set("QX77_SERVICE_TLS", "1");
        QVERIFY(config::addresses::ServiceTls());
        env.Set("QX77_SERVICE_TLS", "yes");
        QVERIFY(!config::addresses::ServiceTls());

        QTemporaryDir dir;
        const QString path = dir.filePath(u"ca.pem"_qs);
        env.Set("QX77_CA_FILE", path.toLocal8Bit());
        QVERIFY(config::addresses::VendorCaPem().isEmpty()); // missing: nothing trusted
        QVERIFY(config::trust::VendorCertificates().isEmpty());
        QVERIFY(config::trust::CaBundlePem().isEmpty());
        QVERIFY(writeFile(path, "not a certificate"));
        QVERIFY(config::trust::VendorCertificates().isEmpty());
        QVERIFY(config::trust::CaBundlePem().isEmpty());
    }
};

YFZS_TEST_CLASS(AddressesTest)
#include "addresses_test.moc"
