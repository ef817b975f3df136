#pragma once
// What identifies this computer to the service host: the hardware address of its network
// adapter and the IPv4 address its own host name resolves to.

#include <QByteArray>
#include <QString>

namespace platform {

// The six address bytes of the first network interface, in interface-index order, that is not
// a loopback interface and has a non-zero six-byte hardware address. Empty when there is none.
QByteArray AdapterHardwareAddress();

// The first IPv4 address of this computer's host name, in dotted decimal ("192.168.1.5").
// Resolved afresh on every call; empty when the name has no IPv4 address.
QString HostIPv4Address();

} // namespace platform
