#pragma once
// A StatusNotifier host on a private session bus, as KDE Plasma and GNOME's AppIndicator
// extension provide one: the watcher service items register with, and a reader for the menu an
// item exports over D-Bus.

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QStringList>

class StatusNotifierHost : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)

public:
    StatusNotifierHost();
    ~StatusNotifierHost() override;

    // Starts the bus and takes the watcher's name on it.
    bool Start();
    // For DBUS_SESSION_BUS_ADDRESS.
    QString Address() const;

    QStringList RegisteredStatusNotifierItems() const;
    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }

    // The labels of the first registered item's menu, separators left out; empty when it has
    // none.
    QStringList MenuLabels() const;
    // A left click on the first registered item, as the host sends it.
    bool Activate() const;

public slots:
    void RegisterStatusNotifierItem(const QString& serviceOrPath, const QDBusMessage& message);
    void RegisterStatusNotifierHost(const QString&) { }

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();

private:
    QProcess m_daemon;
    QString m_address;
    QDBusConnection m_bus{QString()};
    // "service path" of every item that registered.
    QStringList m_items;
};
