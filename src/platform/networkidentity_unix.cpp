#include "platform/networkidentity.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

#include <algorithm>

namespace platform {
namespace {

QByteArray parseHardwareAddress(const QString& text)
{
    // Qt writes it as "AA:BB:CC:DD:EE:FF"; other link types give other lengths.
    const QStringList parts = text.split(u':');
    if (parts.size() != 6)
        return {};
    QByteArray bytes;
    for (const QString& part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        if (!ok || value > 0xff)
            return {};
        bytes.append(char(value));
    }
    if (bytes.count('\0') == bytes.size())
        return {};
    return bytes;
}

} // namespace

QByteArray AdapterHardwareAddress()
{
    QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    std::stable_sort(
        interfaces.begin(), interfaces.end(),
        [](const QNetworkInterface& a, const QNetworkInterface& b) { return a.index() < b.index(); });
    for (const QNetworkInterface& interface : std::as_const(interfaces)) {
        if (interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const QByteArray address = parseHardwareAddress(interface.hardwareAddress());
        if (!address.isEmpty())
            return address;
    }
    return {};
}

QString HostIPv4Address()
{
    const QHostInfo info = QHostInfo::fromName(QHostInfo::localHostName());
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address.toString();
    }
    return {};
}

} // namespace platform
