#pragma once
// One instance per user. The first start takes a per-user lock and listens on a local socket
// named from the main window's title; a later start hands its link (or nothing, which only
// brings the running window forward) to it and waits until the first one has handled it.

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QLocalSocket;

namespace platform {

class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString& windowTitle, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the first instance: it holds the lock (taking over a lock
    // left by a process that died) and listens for later starts.
    bool TryBecomeFirst();

    // For a later start: deliver `link` to the first instance and block until the first one has
    // returned from handling it. False when no first instance answered.
    static bool Forward(const QString& windowTitle, const std::optional<QString>& link);

    // Where lock and socket live for this title (tests look here).
    static QString LockPath(const QString& windowTitle);
    static QString SocketPath(const QString& windowTitle);

signals:
    // Emitted on the owning thread, once per later start, in arrival order. Handlers run
    // synchronously; the sender is released only after every handler has returned, even when a
    // handler runs a modal dialog (other starts are still served from inside its event loop).
    void ActivationRequested();
    void LinkReceived(const QString& link);

private:
    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
