#pragma once
// A global shortcut through the desktop's portal (org.freedesktop.portal.GlobalShortcuts), for
// sessions that offer no key grab, as Wayland does not: the desktop asks the user once whether
// to allow it and then reports each press. Every step is asynchronous, so a slow or missing
// portal never holds up the start.

#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace platform {

class PortalShortcut : public QObject
{
    Q_OBJECT

public:
    // Starts binding `key` (Qt::Key_F1 .. Qt::Key_F35) under `description` at once.
    PortalShortcut(int key, const QString& description, QObject* parent = nullptr);

    bool IsBound() const;

signals:
    void Activated();
    void Bound();
    // No portal, or the binding failed or was refused; `why` says which.
    void Unavailable(const QString& why);

private slots:
    void onSessionCreated(uint response, const QVariantMap& results);
    void onShortcutsBound(uint response, const QVariantMap& results);
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);

private:
    void createSession();
    // Calls `method` with `arguments` and delivers the request's Response to `slot`.
    void request(const QString& method, QList<QVariant> arguments, const char* slot);
    void fail(const QString& why);

    QString m_trigger;
    QString m_description;
    QString m_session;
    QString m_pendingRequest;
    bool m_bound = false;
    bool m_failed = false;
};

} // namespace platform
