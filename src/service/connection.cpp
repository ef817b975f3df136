#include "service/connection.h"

#include "config/addresses.h"
#include "config/trust.h"
#include "service/message.h"
#include "service/servicelog.h"
#include "service/timings.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <limits>

namespace service {
namespace {

constexpr qint64 kReplyCapacity = 512;

int milliseconds(std::chrono::milliseconds value)
{
    return int(std::clamp<std::chrono::milliseconds::rep>(value.count(), 0, std::numeric_limits<int>::max()));
}

} // namespace

ServiceConnection::ServiceConnection() = default;
ServiceConnection::~ServiceConnection() = default;

bool ServiceConnection::ConnectServer(const MessageSink& showMessage)
{
    m_socket.reset();

    QHostAddress target;
    const QString host = config::addresses::ServiceHost();
    if (!target.setAddress(host) || target.protocol() != QAbstractSocket::IPv4Protocol) {
        target.clear();
        const QHostInfo info = QHostInfo::fromName(host);
        for (const QHostAddress& address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                target = address;
                break;
            }
        }
    }
    if (target.isNull()) {
        qCWarning(lcService).noquote() << "service host" << host << "has no IPv4 address";
        showMessage(QStringLiteral("通讯服务器域名或者网络链接有误!"));
        return false;
    }

    const quint16 port = config::addresses::ServicePort();
    const int connectWait = milliseconds(CurrentTimings().connect);
    std::unique_ptr<QTcpSocket> socket;
    bool connected = false;
    if (config::addresses::ServiceTls()) {
        if (!QSslSocket::supportsSsl()) {
            qCWarning(lcService) << "no TLS library for the service connection";
            showMessage(QStringLiteral("初始化Socke失败!"));
            return false;
        }
        // The same exchange inside TLS; the certificate must name the host as configured, not
        // the address it resolved to. Connecting includes the handshake, within the same wait.
        auto tls = std::make_unique<QSslSocket>();
        tls->setSslConfiguration(config::trust::ClientConfiguration());
        tls->connectToHostEncrypted(target.toString(), port, host);
        connected = tls->waitForEncrypted(connectWait);
        if (!connected) {
            for (const QSslError& error : tls->sslHandshakeErrors())
                qCWarning(lcService).noquote() << "service certificate refused:" << error.errorString();
        }
        socket = std::move(tls);
    } else {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(target, port);
        connected = socket->waitForConnected(connectWait);
    }
    if (!connected) {
        const auto error = socket->error();
        qCWarning(lcService).noquote()
            << QStringLiteral("no connection to %1:%2: %3")
                   .arg(target.toString())
                   .arg(port)
                   .arg(error == QAbstractSocket::SocketTimeoutError ? QStringLiteral("timed out")
                                                                     : socket->errorString());
        if (error == QAbstractSocket::SocketResourceError
            || error == QAbstractSocket::UnsupportedSocketOperationError)
            showMessage(QStringLiteral("初始化Socke失败!"));
        return false;
    }
    m_socket = std::move(socket);
    return true;
}

std::optional<QString> ServiceConnection::Exchange(const QString& request)
{
    if (!m_socket)
        return std::nullopt;
    const int replyWait = milliseconds(CurrentTimings().reply);

    m_socket->write(EncodeRequest(request));
    if (!m_socket->waitForBytesWritten(replyWait) && m_socket->bytesToWrite() > 0)
        qCWarning(lcService).noquote() << "request not sent:" << m_socket->errorString();

    QByteArray reply;
    if (m_socket->bytesAvailable() > 0 || m_socket->waitForReadyRead(replyWait))
        reply = m_socket->read(kReplyCapacity);
    else
        qCWarning(lcService).noquote()
            << "no reply:"
            << (m_socket->error() == QAbstractSocket::SocketTimeoutError ? QStringLiteral("timed out")
                                                                         : m_socket->errorString());
    m_socket->abort();
    m_socket.reset();

    if (reply.size() < 2) {
        if (!reply.isEmpty())
            qCWarning(lcService) << "reply of" << reply.size() << "byte ignored";
        return std::nullopt;
    }
    return DecodeReply(reply);
}

} // namespace service
