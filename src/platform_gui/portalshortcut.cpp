#include "platform_gui/portalshortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QRandomGenerator>
#include <QTimer>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kShortcutId = QStringLiteral("hotkey");

// One entry of BindShortcuts' a(sa{sv}).
struct ShortcutEntry
{
    QString id;
    QVariantMap properties;
};

} // namespace

Q_DECLARE_METATYPE(ShortcutEntry)

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const ShortcutEntry& entry)
{
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ShortcutEntry& entry)
{
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

QString newToken()
{
    return QStringLiteral("yfzs%1").arg(QRandomGenerator::global()->generate());
}

// Where the portal will put the request a call with `token` starts; listened to before the
// call, so its answer cannot come first.
QString requestPath(const QDBusConnection& bus, const QString& token)
{
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    return kPath + QStringLiteral("/request/") + sender + u'/' + token;
}

} // namespace

namespace platform {

PortalShortcut::PortalShortcut(int key, const QString& description, QObject* parent)
    : QObject(parent)
    , m_trigger(QStringLiteral("F%1").arg(key - Qt::Key_F1 + 1))
    , m_description(description)
{
    qDBusRegisterMetaType<ShortcutEntry>();
    qDBusRegisterMetaType<QList<ShortcutEntry>>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // After the constructor, so that whoever made us is connected by then.
        QTimer::singleShot(0, this, [this] { fail(QStringLiteral("no session bus")); });
        return;
    }
    QDBusMessage version = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    version << kInterface << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(version), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError())
            fail(QStringLiteral("the desktop offers no global-shortcuts portal"));
        else
            createSession();
    });
}

bool PortalShortcut::IsBound() const
{
    return m_bound;
}

void PortalShortcut::fail(const QString& why)
{
    if (m_failed)
        return;
    m_failed = true;
    emit Unavailable(why);
}

void PortalShortcut::request(const QString& method, QList<QVariant> arguments, const char* slot)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = newToken();
    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    m_pendingRequest = requestPath(bus, token);
    bus.connect(kService, m_pendingRequest, kRequestInterface, QStringLiteral("Response"), this, slot);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, method](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError())
            fail(method + QStringLiteral(": ") + w->error().message());
    });
}

void PortalShortcut::createSession()
{
    request(QStringLiteral("CreateSession"),
            {QVariantMap{{QStringLiteral("session_handle_token"), newToken()}}},
            SLOT(onSessionCreated(uint, QVariantMap)));
}

void PortalShortcut::onSessionCreated(uint response, const QVariantMap& results)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(kService, m_pendingRequest, kRequestInterface, QStringLiteral("Response"), this,
                   SLOT(onSessionCreated(uint, QVariantMap)));
    // The handle comes as a string in the portal's documents and as an object path from some
    // desktops.
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    m_session = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                     : handle.toString();
    if (response != 0 || m_session.isEmpty()) {
        fail(QStringLiteral("the portal made no session"));
        return;
    }
    bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    const QList<ShortcutEntry> shortcuts{
        {kShortcutId,
         {{QStringLiteral("description"), m_description}, {QStringLiteral("preferred_trigger"), m_trigger}}}};
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(),
             QVariantMap()},
            SLOT(onShortcutsBound(uint, QVariantMap)));
}

void PortalShortcut::onShortcutsBound(uint response, const QVariantMap&)
{
    QDBusConnection::sessionBus().disconnect(kService, m_pendingRequest, kRequestInterface,
                                             QStringLiteral("Response"), this,
                                             SLOT(onShortcutsBound(uint, QVariantMap)));
    if (response != 0) {
        fail(QStringLiteral("the desktop did not allow %1").arg(m_trigger));
        return;
    }
    m_bound = true;
    emit Bound();
}

void PortalShortcut::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                 const QVariantMap&)
{
    if (m_bound && session.path() == m_session && id == kShortcutId)
        emit Activated();
}

} // namespace platform
