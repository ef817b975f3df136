#include "statusnotifierhost.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTest>

namespace {

const QString kConnection = QStringLiteral("status-notifier-host");

void readLayout(const QDBusArgument& item, QStringList& labels)
{
    int id = 0;
    QVariantMap properties;
    item.beginStructure();
    item >> id >> properties;
    if (properties.value(QStringLiteral("type")).toString() != QLatin1String("separator")
        && properties.contains(QStringLiteral("label")))
        labels << properties.value(QStringLiteral("label")).toString();
    item.beginArray();
    while (!item.atEnd()) {
        QDBusVariant child;
        item >> child;
        readLayout(qvariant_cast<QDBusArgument>(child.variant()), labels);
    }
    item.endArray();
    item.endStructure();
}

} // namespace

StatusNotifierHost::StatusNotifierHost() = default;

StatusNotifierHost::~StatusNotifierHost()
{
    QDBusConnection::disconnectFromBus(kConnection);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
}

bool StatusNotifierHost::Start()
{
    m_daemon.start(
        QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted() || !QTest::qWaitFor([this] { return m_daemon.canReadLine(); }, 20000))
        return false;
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    m_bus = QDBusConnection::connectToBus(m_address, kConnection);
    return m_bus.isConnected()
        && m_bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties
                                    | QDBusConnection::ExportAllSignals)
        && m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

QString StatusNotifierHost::Address() const
{
    return m_address;
}

QStringList StatusNotifierHost::RegisteredStatusNotifierItems() const
{
    return m_items;
}

void StatusNotifierHost::RegisterStatusNotifierItem(const QString& serviceOrPath, const QDBusMessage& message)
{
    // Items name either their own service (object at /StatusNotifierItem) or only a path.
    const bool isPath = serviceOrPath.startsWith(u'/');
    const QString item = isPath ? message.service() + u' ' + serviceOrPath
                                : serviceOrPath + QStringLiteral(" /StatusNotifierItem");
    m_items << item;
    emit StatusNotifierItemRegistered(item);
}

QStringList StatusNotifierHost::MenuLabels() const
{
    if (m_items.isEmpty())
        return {};
    const QString service = m_items.first().section(u' ', 0, 0);
    const QString path = m_items.first().section(u' ', 1);
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Menu");
    const QDBusMessage menu = m_bus.call(get);
    if (menu.type() != QDBusMessage::ReplyMessage)
        return {};
    const QString menuPath =
        qvariant_cast<QDBusObjectPath>(qvariant_cast<QDBusVariant>(menu.arguments().at(0)).variant()).path();
    QDBusMessage layout = QDBusMessage::createMethodCall(
        service, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    layout << 0 << -1 << QStringList();
    const QDBusMessage reply = m_bus.call(layout);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return {};
    QStringList labels;
    readLayout(qvariant_cast<QDBusArgument>(reply.arguments().at(1)), labels);
    return labels;
}

bool StatusNotifierHost::Activate() const
{
    if (m_items.isEmpty())
        return false;
    QDBusMessage click = QDBusMessage::createMethodCall(
        m_items.first().section(u' ', 0, 0), m_items.first().section(u' ', 1),
        QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
    click << 10 << 10;
    return m_bus.call(click).type() == QDBusMessage::ReplyMessage;
}
