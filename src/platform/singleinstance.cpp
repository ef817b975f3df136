#include "platform/singleinstance.h"
#include "platform/fileio.h"
#include "platform/nativepaths.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QThread>

namespace platform {
namespace {

Q_LOGGING_CATEGORY(lcInstance, "yfzs.startup", QtCriticalMsg)

constexpr quint32 kMagic = 0x5946'5a53;          // "YFZS": link only, as older versions send it
constexpr quint32 kMagicWithToken = 0x5946'5a54; // "YFZT": link, then the activation token
constexpr quint8 kHandled = 1;

QString baseName(const QString& windowTitle)
{
    const QByteArray hash = QCryptographicHash::hash(windowTitle.toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("instance-") + QString::fromLatin1(hash.toHex().left(16));
}

} // namespace

struct SingleInstance::Private
{
    QString title;
    std::unique_ptr<FileLock> lock;
    QLocalServer server;
};

SingleInstance::SingleInstance(const QString& windowTitle, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->title = windowTitle;
    connect(&d->server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

SingleInstance::~SingleInstance()
{
    d->server.close();
}

QString SingleInstance::LockPath(const QString& windowTitle)
{
    return UserStateDir() + u'/' + baseName(windowTitle) + QStringLiteral(".lock");
}

QString SingleInstance::SocketPath(const QString& windowTitle)
{
    return UserStateDir() + u'/' + baseName(windowTitle) + QStringLiteral(".sock");
}

bool SingleInstance::TryBecomeFirst()
{
    // An flock, not a lock file with a process id in it: the kernel lets go when the holder ends
    // however it ends, so there is no stale lock to judge, and taking it writes nothing to disk.
    auto lock = std::make_unique<FileLock>(LockPath(d->title));
    if (!lock->Acquire(0)) {
        if (!lock->IsBusy()) {
            // Nowhere to keep the lock (a read-only or full home): running unguarded beats a
            // program that quietly never starts.
            qCWarning(lcInstance) << "no single-instance lock at" << LockPath(d->title) << ":"
                                  << lock->ErrorString();
            return true;
        }
        return false;
    }
    d->lock = std::move(lock);
    const QString socketPath = SocketPath(d->title);
    QLocalServer::removeServer(socketPath); // left behind by a first instance that was killed
    d->server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!d->server.listen(socketPath))
        qCWarning(lcInstance) << "later starts cannot reach this one:" << d->server.errorString();
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = d->server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void SingleInstance::onReadyRead(QLocalSocket* socket)
{
    QDataStream in(socket);
    in.setVersion(QDataStream::Qt_6_0);
    in.startTransaction();
    quint32 magic = 0;
    bool hasLink = false;
    QString link;
    QString token;
    in >> magic >> hasLink >> link;
    // A program updated while an older one runs, or the other way round: each side still
    // understands the other, an older start just brings no token.
    if (magic == kMagicWithToken)
        in >> token;
    if (!in.commitTransaction())
        return; // the rest is still on its way
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    if (magic != kMagic && magic != kMagicWithToken) {
        socket->abort();
        return;
    }

    // The handler may run a modal dialog; the socket can vanish meanwhile if the sender dies.
    QPointer<QLocalSocket> guard(socket);
    if (hasLink)
        emit LinkReceived(link, token);
    else
        emit ActivationRequested(token);
    if (guard && guard->state() == QLocalSocket::ConnectedState) {
        guard->write(reinterpret_cast<const char*>(&kHandled), 1);
        guard->flush();
    }
}

QString SingleInstance::LauncherActivationToken()
{
    const QString wayland = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    return wayland.isEmpty() ? qEnvironmentVariable("DESKTOP_STARTUP_ID") : wayland;
}

bool SingleInstance::Forward(const QString& windowTitle, const std::optional<QString>& link,
                             const QString& activationToken)
{
    const QString socketPath = SocketPath(windowTitle);
    QLocalSocket socket;
    // The first instance may hold the lock but not listen yet; give it a moment.
    const QDeadlineTimer deadline(5000);
    for (;;) {
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(1000))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }

    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kMagicWithToken << link.has_value() << link.value_or(QString()) << activationToken;
    socket.write(message);
    if (!socket.waitForBytesWritten(5000))
        return false;

    // No time limit: the first instance answers once its handler returned, and an install
    // dialog there may stay open as long as the user likes. A first instance that ends
    // closes the connection, which ends the wait too.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(-1))
            return false;
    }
    char reply = 0;
    socket.read(&reply, 1);
    return reply == char(kHandled);
}

} // namespace platform
