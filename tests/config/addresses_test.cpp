#include "testrunner.h"

#include "addresses.h"

#include <QTest>

#include <optional>

// The tool server and the service host may live apart; with only QX77_HOST they are one.
class AddressesTest : public QObject
{
    Q_OBJECT

    QHash<QByteArray, std::optional<QByteArray>> m_saved;

    void Set(const char* name, const char* value)
    {
        if (!m_saved.contains(name))
            m_saved.insert(name,
                           qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }

private slots:
    void cleanup()
    {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
            it.value() ? qputenv(it.key().constData(), *it.value()) : qunsetenv(it.key().constData());
        m_saved.clear();
    }

    void serviceHostDefaultsToTheToolHost()
    {
        Set("QX77_HOST", nullptr);
        Set("QX77_SERVICE_HOST", nullptr);
        Set("QX77_TOOL_PORT", "8090");
        QCOMPARE(config::addresses::ServiceHost(), QStringLiteral("127.0.0.1"));
        QCOMPARE(config::addresses::ToolPageUrl(),
                 QStringLiteral("http://127.0.0.1:8090/CF20/CF_Index.aspx"));

        Set("QX77_HOST", " cdn.example.com ");
        Set("QX77_SERVICE_HOST", "  ");
        QCOMPARE(config::addresses::ToolHost(), QStringLiteral("cdn.example.com"));
        QCOMPARE(config::addresses::ServiceHost(), QStringLiteral("cdn.example.com"));

        Set("QX77_SERVICE_HOST", "login.example.com");
        QCOMPARE(config::addresses::ServiceHost(), QStringLiteral("login.example.com"));
        QCOMPARE(config::addresses::ToolServerUrl(), QStringLiteral("http://cdn.example.com:8090"));
        QCOMPARE(config::addresses::RepairArchiveUrl(),
                 QStringLiteral("http://cdn.example.com:8090/cftoolweb/yxxf.zip"));
    }
};

YFZS_TEST_CLASS(AddressesTest)
#include "addresses_test.moc"
