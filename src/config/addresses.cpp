#include "config/addresses.h"

#include "addressdefaults.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QMutex>
#include <QSet>
#include <QUrl>

#include <optional>

namespace config::addresses {
namespace {

// Shown by default: a vendor needs to see that an address was ignored or is unsafe without
// turning anything on.
Q_LOGGING_CATEGORY(lcAddresses, "yfzs.addresses", QtWarningMsg)

struct ToolAddress
{
    QString scheme;
    QString host;
    quint16 port = 0;
};

// The addresses are asked for on every page API call; each complaint is logged once.
void warnOnce(const QString& message)
{
    static QMutex lock;
    static QSet<QString> said;
    QMutexLocker locker(&lock);
    if (said.contains(message))
        return;
    said.insert(message);
    qCWarning(lcAddresses).noquote() << message;
}

QString variable(const char* name)
{
    return qEnvironmentVariable(name).trimmed();
}

quint16 portFrom(const char* name, quint16 fallback)
{
    const QString text = variable(name);
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (ok && value > 0 && value <= 65535)
        return quint16(value);
    if (!text.isEmpty())
        warnOnce(QStringLiteral("%1=%2 is not a port number; using %3")
                     .arg(QLatin1String(name), text)
                     .arg(fallback));
    return fallback;
}

std::optional<ToolAddress> parseToolUrl(const QString& text, const QString& from)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const bool usable = url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty()
        && url.userInfo().isEmpty() && (url.path().isEmpty() || url.path() == u"/") && !url.hasQuery()
        && !url.hasFragment();
    if (!usable) {
        warnOnce(
            QStringLiteral("%1 \"%2\" is not an http:// or https:// address with a host and no path; ignored")
                .arg(from, text));
        return std::nullopt;
    }
    return ToolAddress{scheme, url.host(), quint16(url.port(scheme == u"https" ? 443 : 80))};
}

ToolAddress builtToolAddress()
{
    static const ToolAddress built = [] {
        const auto parsed = parseToolUrl(QString::fromUtf8(defaults::kToolUrl),
                                         QStringLiteral("YFZS_TOOL_URL"));
        return parsed ? *parsed : ToolAddress{QStringLiteral("http"), QStringLiteral("127.0.0.1"), 8088};
    }();
    return built;
}

// QX77_HOST names a host only; "https://host" there once became "http://https//host".
QString legacyHost()
{
    const QString host = variable("QX77_HOST");
    if (host.contains(u'/')) {
        warnOnce(QStringLiteral("QX77_HOST \"%1\" is not a host name; ignored (QX77_TOOL_URL takes a scheme)")
                     .arg(host));
        return {};
    }
    return host;
}

ToolAddress toolAddress()
{
    if (const QString url = variable("QX77_TOOL_URL"); !url.isEmpty()) {
        if (const auto parsed = parseToolUrl(url, QStringLiteral("QX77_TOOL_URL")))
            return *parsed;
    }
    const QString host = legacyHost();
    if (!host.isEmpty() || !variable("QX77_TOOL_PORT").isEmpty())
        return {QStringLiteral("http"), host.isEmpty() ? builtToolAddress().host : host,
                portFrom("QX77_TOOL_PORT", 8088)};
    return builtToolAddress();
}

bool isLoopbackHost(const QString& host)
{
    const QHostAddress address(host);
    if (!address.isNull())
        return address.isLoopback();
    const QString name = host.toLower();
    return name == u"localhost" || name.endsWith(u".localhost");
}

// Plain http beyond this machine: anyone on the path can rewrite the page that scripts us.
bool exposed(const ToolAddress& tool)
{
    return tool.scheme == u"http" && !isLoopbackHost(tool.host);
}

} // namespace

QString ToolScheme()
{
    return toolAddress().scheme;
}

QString ToolHost()
{
    return toolAddress().host;
}

quint16 ToolPort()
{
    return toolAddress().port;
}

QString ServiceHost()
{
    if (const QString host = variable("QX77_SERVICE_HOST"); !host.isEmpty())
        return host;
    if (const QString host = legacyHost(); !host.isEmpty())
        return host;
    if (const QString host = QString::fromUtf8(defaults::kServiceHost).trimmed(); !host.isEmpty())
        return host;
    return ToolHost();
}

quint16 ServicePort()
{
    return portFrom("QX77_SERVICE_PORT", quint16(defaults::kServicePort));
}

bool ServiceTls()
{
    const QString value = variable("QX77_SERVICE_TLS");
    if (value == u"1")
        return true;
    if (value == u"0")
        return false;
    if (!value.isEmpty())
        warnOnce(QStringLiteral("QX77_SERVICE_TLS=%1 is neither 1 nor 0; ignored").arg(value));
    return defaults::kServiceTls;
}

QString ForumUrl()
{
    QString url = variable("QX77_FORUM_URL");
    if (url.isEmpty())
        url = QString::fromUtf8(defaults::kForumUrl).trimmed();
    while (url.endsWith(u'/'))
        url.chop(1);
    return url;
}

QByteArray VendorCaPem(QString* source)
{
    const QString path = variable("QX77_CA_FILE");
    if (path.isEmpty()) {
        if (source)
            *source = QStringLiteral("the CA built in");
        return QByteArray(defaults::kCaPem).trimmed();
    }
    if (source)
        *source = path;
    // Asked for at every download and service connection: the file is read again only when
    // its name, size or time changes.
    struct Read
    {
        QString path;
        qint64 size = -1;
        QDateTime modified;
        QByteArray pem;
    };
    static QMutex lock;
    static Read last;
    const QFileInfo info(path);
    const QMutexLocker locker(&lock);
    if (last.path == path && last.size == info.size() && last.modified == info.lastModified())
        return last.pem;
    QFile file(path);
    // A CA file is a few kilobytes; anything far larger is not one.
    if (!file.open(QIODevice::ReadOnly) || file.size() > (1 << 20)) {
        warnOnce(QStringLiteral("QX77_CA_FILE %1 cannot be read: %2").arg(path, file.errorString()));
        return {};
    }
    last = {path, info.size(), info.lastModified(), file.readAll()};
    return last.pem;
}

QString ToolServerUrl()
{
    const ToolAddress tool = toolAddress();
    QUrl url;
    url.setScheme(tool.scheme);
    url.setHost(tool.host);
    url.setPort(tool.port);
    const QString text = url.toString(QUrl::FullyEncoded);
    if (exposed(tool))
        warnOnce(
            QStringLiteral("the tool server %1 is reached over plain http: anyone on the network path can "
                           "change the page that scripts this program; use https")
                .arg(text));
    return text;
}

bool ToolUrlIsExposed()
{
    return exposed(toolAddress());
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
