#include "addresses.h"

namespace config::addresses {
namespace {

quint16 portFrom(const char* variable, quint16 fallback)
{
    bool ok = false;
    const uint value = qEnvironmentVariable(variable).toUInt(&ok);
    return ok && value > 0 && value <= 65535 ? quint16(value) : fallback;
}

} // namespace

QString ToolHost()
{
    const QString host = qEnvironmentVariable("QX77_HOST").trimmed();
    return host.isEmpty() ? QStringLiteral("127.0.0.1") : host;
}

QString ServiceHost()
{
    const QString host = qEnvironmentVariable("QX77_SERVICE_HOST").trimmed();
    return host.isEmpty() ? ToolHost() : host;
}

quint16 ToolPort()
{
    return portFrom("QX77_TOOL_PORT", 8088);
}

quint16 ServicePort()
{
    return portFrom("QX77_SERVICE_PORT", 3130);
}

QString ForumUrl()
{
    QString url = qEnvironmentVariable("QX77_FORUM_URL").trimmed();
    if (url.isEmpty())
        url = QStringLiteral("http://127.0.0.1:8088");
    while (url.endsWith(u'/'))
        url.chop(1);
    return url;
}

QString ToolServerUrl()
{
    return QStringLiteral("http://%1:%2").arg(ToolHost()).arg(ToolPort());
}

QString ToolPageUrl()
{
    return ToolServerUrl() + QStringLiteral("/CF20/CF_Index.aspx");
}

QString RepairArchiveUrl()
{
    return ToolServerUrl() + QStringLiteral("/cftoolweb/yxxf.zip");
}

QString HelpPageUrl()
{
    return ForumUrl() + QStringLiteral("/thread-5391013-1-1.html");
}

QString RegisterPageUrl()
{
    return ForumUrl() + QStringLiteral("/member.php?mod=register");
}

} // namespace config::addresses
