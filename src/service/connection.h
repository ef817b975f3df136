#pragma once
// One exchange with the service host on a connection of its own: connect, send the whole
// request at once, take one reply of at most 512 bytes, close. Connecting and waiting for the
// reply each give up after the configured time-out (see timings.h), which counts as the failure
// it stands for: no connection, or no reply. With config::addresses::ServiceTls() the same
// bytes travel inside TLS, the peer verified as config::trust says; a handshake that fails
// counts as no connection.

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

namespace service {

class ServiceConnection
{
public:
    using MessageSink = std::function<void(const QString&)>;

    ServiceConnection();
    ~ServiceConnection();
    ServiceConnection(const ServiceConnection&) = delete;
    ServiceConnection& operator=(const ServiceConnection&) = delete;

    // Connects to the service host (config::addresses::ServiceHost(), ServicePort()), IPv4, the first address
    // the name resolves to. A name without an address, or a socket that cannot be made, is told
    // through `showMessage`; a refused or timed-out connection is not. True when connected.
    bool ConnectServer(const MessageSink& showMessage);

    // Sends the request and waits for the reply, then closes. The reply text, or nothing when
    // fewer than two bytes came (peer closed, error, time-out).
    std::optional<QString> Exchange(const QString& request);

private:
    std::unique_ptr<QTcpSocket> m_socket;
};

} // namespace service
