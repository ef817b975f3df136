#include "servicefixture.h"

#include "config/inifile.h"
#include "config/programdir.h"
#include "platform/codec.h"
#include "service/message.h"
#include "service/timings.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace fixture {
namespace {

QString originalDir;

} // namespace

void Reset(QTemporaryDir& workDir)
{
    QFile::remove(GetProgramDir() + QStringLiteral("config.ini"));
    QFile::remove(GetProgramDir() + QStringLiteral("update.ini"));
    if (originalDir.isEmpty())
        originalDir = QDir::currentPath();
    QDir::setCurrent(workDir.path());
    service::SetTimings(
        {std::chrono::milliseconds(5000), std::chrono::milliseconds(5000), std::chrono::milliseconds(20)});
}

void ShortReplyWait()
{
    auto timings = service::CurrentTimings();
    timings.reply = std::chrono::milliseconds(300);
    service::SetTimings(timings);
}

void Restore()
{
    QDir::setCurrent(originalDir);
}

void PointClientAtClosedPort(EnvGuard& env)
{
    env.Set("QX77_HOST", "127.0.0.1");
    env.Set("QX77_SERVICE_PORT", QByteArray::number(FakeServiceHost::closedPort()));
}

void WaitForWorkers(const service::ServiceClient& client)
{
    QTRY_COMPARE_WITH_TIMEOUT(client.RunningWorkers(), 0, 30000);
}

HostedClient::HostedClient(FakeServiceHost::Responder responder, int batch)
    : host(std::move(responder), batch)
{
    host.pointClientHere();
}

void PressLogin(RecordingUi& ui, service::ServiceClient& client, const QString& account,
                const QString& password)
{
    ui.boxAccount = account;
    ui.boxPassword = password;
    client.OnLogin();
    WaitForWorkers(client);
}

QByteArray Reply(const QStringList& tail)
{
    const QStringList fields = QStringList{QStringLiteral("^12"), QStringLiteral("0000000000"),
                                           QStringLiteral("0")}
        + tail;
    return platform::ToAnsi(fields.join(service::kSeparator)) + QByteArray(1, '\0');
}

QString ConfigValue(const QString& section, const QString& key)
{
    return ReadIniString(config::GetConfigPath(), section, key, QStringLiteral("<missing>"));
}

void SetConfigValue(const QString& section, const QString& key, const QString& value)
{
    WriteIniString(config::GetConfigPath(), section, key, value);
}

QStringList KeysInFileOrder(const QString& file, const QString& section)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList keys;
    bool inSection = false;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.startsWith(u'[')) {
            inSection = line.mid(1, line.size() - 2).compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (inSection && line.contains(u'='))
            keys << line.section(u'=', 0, 0);
    }
    return keys;
}

QStringList RequestFields(const QByteArray& request)
{
    QByteArray text = request;
    if (text.endsWith(QByteArray(2, '\0')))
        text.chop(2);
    return platform::FromAnsi(text).split(service::kSeparator);
}

} // namespace fixture
