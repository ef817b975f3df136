#include "pagehost/pagebridge.h"

#include "config/addresses.h"
#include "pagehost/pageapitable.h"
#include "pagehost/pagelog.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace pagehost::bridge {
namespace {

int defaultPort(const QString& scheme)
{
    if (scheme == u"http")
        return 80;
    if (scheme == u"https")
        return 443;
    return -1;
}

QString encodeAnswer(const QJsonValue& result, const QString& error, const QJsonArray& reports)
{
    QJsonObject answer;
    if (error.isEmpty())
        answer.insert(u"r", result);
    else
        answer.insert(u"e", error);
    if (!reports.isEmpty())
        answer.insert(u"p", reports);
    return QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact));
}

} // namespace

QString Marker()
{
    return QStringLiteral("\u0001YFZS-external\u0001");
}

QString ToolOrigin()
{
    QUrl url(config::addresses::ToolServerUrl());
    const QString scheme = url.scheme().toLower();
    QString origin = scheme + QStringLiteral("://") + url.host(QUrl::FullyEncoded).toLower();
    if (url.host().contains(u':'))
        origin = scheme + QStringLiteral("://[") + url.host().toLower() + u']';
    if (url.port() != -1 && url.port() != defaultPort(scheme))
        origin += u':' + QString::number(url.port());
    return origin;
}

bool IsToolOrigin(const QUrl& origin)
{
    // Asked on every page API call: the address is read anew each time, but parsed only when
    // it changed. User-interface thread only, like the calls.
    static QString address;
    static QUrl tool;
    if (const QString now = config::addresses::ToolServerUrl(); now != address) {
        address = now;
        tool = QUrl(now);
    }
    const QString scheme = origin.scheme().toLower();
    if (!origin.isValid() || scheme != tool.scheme().toLower())
        return false;
    if (origin.host().compare(tool.host(), Qt::CaseInsensitive) != 0)
        return false;
    return origin.port(defaultPort(scheme)) == tool.port(defaultPort(scheme));
}

QString ScriptSource(const QString& toolOrigin)
{
    static const QString body = [] {
        QFile file(QStringLiteral(":/pagehost/pagebridge.js"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }();
    const QJsonArray args{toolOrigin, Marker(), QJsonArray::fromStringList(PageMethodNames())};
    const QByteArray json = QJsonDocument(args).toJson(QJsonDocument::Compact);
    // The array's brackets become the call's parentheses.
    return body + u'(' + QString::fromUtf8(json.mid(1, json.size() - 2)) + QStringLiteral(");\n");
}

QString Dispatch(CHtmlCtrl& api, QStringView length, QStringView request,
                 const std::function<QJsonArray()>& takeReports)
{
    bool counted = false;
    const qint64 expected = length.toLongLong(&counted);
    if (!counted || expected != request.size()) {
        qCWarning(lcPage) << "page API call arrived cut:" << request.size() << "of" << length << "characters";
        return encodeAnswer({},
                            QStringLiteral("the call arrived incomplete (%1 of %2 characters)")
                                .arg(request.size())
                                .arg(length.toString()),
                            {});
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(request.toUtf8(), &parseError);
    const QJsonArray call = document.array();
    if (parseError.error != QJsonParseError::NoError || !call.at(0).isDouble() || !call.at(1).isArray()) {
        const QString why = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                         : QStringLiteral("not a call");
        qCWarning(lcPage) << "page API call not understood:" << why;
        return encodeAnswer({}, QStringLiteral("the call could not be read (%1)").arg(why), {});
    }
    const int id = call.at(0).toInt();
    const auto methods = PageMethods();
    if (id < 1 || id > int(methods.size()))
        return encodeAnswer({}, QStringLiteral("unknown method"), {});
    const PageMethod& method = methods[size_t(id - 1)];

    const QJsonArray given = call.at(1).toArray();
    if (given.size() != qsizetype(method.params.size())) {
        return encodeAnswer({},
                            QStringLiteral("wrong number of arguments (%1 expected, %2 given)")
                                .arg(method.params.size())
                                .arg(given.size()),
                            {});
    }
    std::array<PageValue, 4> args;
    for (size_t i = 0; i < method.params.size(); ++i) {
        PageConversion converted = ConvertPageArgument(given.at(qsizetype(i)), method.params[i]);
        if (!converted.error.isEmpty())
            return encodeAnswer({}, QStringLiteral("argument %1: %2").arg(i + 1).arg(converted.error), {});
        args[i] = std::move(converted.value);
    }

    const PageValue result = method.run(api, args);
    return encodeAnswer(PageResultToJson(result), {}, takeReports ? takeReports() : QJsonArray());
}

} // namespace pagehost::bridge
