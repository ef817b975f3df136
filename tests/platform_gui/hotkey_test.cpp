#include "logcapture.h"
#include "testenv.h"
#include "testrunner.h"

#include "platform_gui/hotkey.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// The desktop's side of org.freedesktop.portal.GlobalShortcuts, as far as a client sees it:
// requests answered through their Response signal, the triggers asked for, presses reported
// through Activated. `allow` false plays a user who refuses.
class FakePortal : public QDBusVirtualObject
{
public:
    explicit FakePortal(QDBusConnection bus)
        : m_bus(bus)
    {
    }

    bool allow = true;
    QString session;
    QStringList triggers; // preferred_trigger of each shortcut bound

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == QLatin1String("Get")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(1)))));
            return true;
        }
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().last());
        const QString sender = message.service().mid(1).replace(u'.', u'_');
        const QString request = kPortalPath + QStringLiteral("/request/") + sender + u'/'
            + options.value(QStringLiteral("handle_token")).toString();
        QVariantMap results;
        uint response = 0;
        if (message.member() == QLatin1String("CreateSession")) {
            session = kPortalPath + QStringLiteral("/session/") + sender + u'/'
                + options.value(QStringLiteral("session_handle_token")).toString();
            results.insert(QStringLiteral("session_handle"), session);
        } else if (message.member() == QLatin1String("BindShortcuts")) {
            const QDBusArgument list = message.arguments().at(1).value<QDBusArgument>();
            list.beginArray();
            while (!list.atEnd()) {
                QString id;
                QVariantMap properties;
                list.beginStructure();
                list >> id >> properties;
                list.endStructure();
                triggers << properties.value(QStringLiteral("preferred_trigger")).toString();
            }
            list.endArray();
            response = allow ? 0 : 1;
        } else {
            return false;
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage answer = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        answer << response << results;
        connection.send(answer);
        return true;
    }

    void Press(const QString& id)
    {
        QDBusMessage pressed = QDBusMessage::createSignal(kPortalPath, kShortcuts,
                                                          QStringLiteral("Activated"));
        pressed << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0) << QVariantMap();
        m_bus.send(pressed);
    }

private:
    QDBusConnection m_bus;
};

} // namespace

// Offscreen there is no key grab, so the hot key goes to the portal: the same path as on a
// Wayland desktop.
class HotKeyTest : public QObject
{
    Q_OBJECT

private:
    EnvGuard m_env;
    QProcess m_daemon;

private slots:
    void initTestCase()
    {
        m_daemon.start(
            QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        QVERIFY(m_daemon.waitForStarted());
        QVERIFY(QTest::qWaitFor([this] { return m_daemon.canReadLine(); }, 20000));
        // Before the first use of the session bus, which reads it once.
        m_env.Set("DBUS_SESSION_BUS_ADDRESS", m_daemon.readLine().trimmed());
    }

    void cleanupTestCase()
    {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    // Without a portal one line says so; with one, F11 is bound and its presses arrive.
    void bindsThroughThePortal()
    {
        LogCapture log(QStringLiteral("yfzs.hotkey"));
        QStringList lines;
        // Every line so far, kept: QTRY_ evaluates its condition many times.
        auto logged = [&] { return lines += log.Take(); };
        {
            platform::GlobalHotKey none(Qt::Key_F11);
            QTRY_COMPARE(
                logged(),
                QStringList{
                    u"yfzs.hotkey: F11 is unavailable on this desktop: the desktop offers no global-shortcuts portal"_qs});
            QVERIFY(!none.IsRegistered());
        }
        lines.clear();

        QDBusConnection desktop = QDBusConnection::connectToBus(
            qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("desktop"));
        FakePortal portal(desktop);
        QVERIFY(desktop.registerVirtualObject(kPortalPath, &portal));
        QVERIFY(desktop.registerService(kPortalService));

        platform::GlobalHotKey hotKey(Qt::Key_F11, nullptr, QStringLiteral("登陆"));
        QSignalSpy pressed(&hotKey, &platform::GlobalHotKey::Activated);
        QTRY_VERIFY(hotKey.IsRegistered());
        QCOMPARE(portal.triggers, QStringList{u"F11"_qs});
        QTRY_COMPARE(logged(),
                     QStringList{u"yfzs.hotkey: F11 through the desktop's global-shortcuts portal"_qs});
        portal.Press(QStringLiteral("hotkey"));
        portal.Press(QStringLiteral("another program's"));
        QTRY_COMPARE(pressed.count(), 1);

        // The user says no: one line, and the key stays off.
        portal.allow = false;
        platform::GlobalHotKey refused(Qt::Key_F11);
        lines.clear();
        QTRY_COMPARE(
            logged(),
            QStringList{
                u"yfzs.hotkey: F11 is unavailable on this desktop: the desktop did not allow F11"_qs});
        QVERIFY(!refused.IsRegistered());
        desktop.unregisterService(kPortalService);
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
    }
};

YFZS_TEST_CLASS(HotKeyTest)
#include "hotkey_test.moc"
