#include "service/identity.h"

#include "platform/networkidentity.h"

#include <QStringList>

namespace service {

QString FormatMacAddress(const QByteArray& address)
{
    QStringList parts;
    for (int i = 0; i < 6; ++i)
        parts << QString::number(i < address.size() ? quint8(address.at(i)) : 0, 16);
    return parts.join(u'-');
}

} // namespace service

QString GetMacAddress()
{
    // A function-local static is initialised exactly once, with concurrent callers waiting.
    static const QString text = service::FormatMacAddress(platform::AdapterHardwareAddress());
    return text;
}

QString GetLocalIp()
{
    const QString address = platform::HostIPv4Address();
    return address.isEmpty() ? QStringLiteral("0.0.0.0") : address;
}
