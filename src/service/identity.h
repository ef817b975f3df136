#pragma once
// The machine identity every request carries: the adapter's MAC text and the local IPv4 text.

#include <QByteArray>
#include <QString>

// The adapter address as "%x-%x-%x-%x-%x-%x" (00-1A-2B-03-04-FF → "0-1a-2b-3-4-ff").
// Computed on first use, once even when several threads ask at the same time, then kept for
// the life of the process. "0-0-0-0-0-0" when the machine has no such adapter.
QString GetMacAddress();

// The first IPv4 address of the host name, resolved afresh; "0.0.0.0" when there is none.
QString GetLocalIp();

namespace service {

// The MAC text of six address bytes; fewer bytes count as zeros.
QString FormatMacAddress(const QByteArray& address);

} // namespace service
