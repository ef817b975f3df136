#pragma once
// One instance per user. The first start takes a per-user lock and listens on a local socket
// named from the main window's title; a later start hands its link (or nothing, which only
// brings the running window forward) to it and waits until the first one has handled it. The
// launcher's activation token travels with it: only with that token may the first instance's
// window come to the front on Wayland, and X11 window managers weigh it too.

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

    // True when this process is now the first instance: it holds the lock (a process that died
    // holds nothing) and listens for later starts. Also true when no lock can be kept at all.
    bool TryBecomeFirst();

    // For a later start: deliver `link` and `activationToken` to the first instance and block
    // until the first one has returned from handling it. False when no first instance answered.
    static bool Forward(const QString& windowTitle, const std::optional<QString>& link,
                        const QString& activationToken = {});

    // The token the launcher gave this process (XDG_ACTIVATION_TOKEN on Wayland, the
    // startup-notification id DESKTOP_STARTUP_ID on X11), empty when none. Read it before the
    // QGuiApplication exists: Qt takes the variables for its own first window.
    static QString LauncherActivationToken();

    // Where lock and socket live for this title (tests look here).
    static QString LockPath(const QString& windowTitle);
    static QString SocketPath(const QString& windowTitle);

signals:
    // Emitted on the owning thread, once per later start, in arrival order. Handlers run
    // synchronously; the sender is released only after every handler has returned, even when a
    // handler runs a modal dialog (other starts are still served from inside its event loop).
    // `activationToken` is the later start's launcher token, empty when it had none.
    void ActivationRequested(const QString& activationToken);
    void LinkReceived(const QString& link, const QString& activationToken);

private:
    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
