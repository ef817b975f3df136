// Fuzz target: the service protocol between the program and the service host. The first part
// of the input is a request as the host reads it off the wire (svc::ParseRequest, up to the
// first zero byte); a request it accepts must come out the same when laid out again. The same
// bytes also go to a running service host over loopback, whose reply must be one the program
// can take: at most 512 bytes, ending in its two zero bytes. The
// other parts are a command choice and four fields: the program's request for them
// (service::BuildRequest, EncodeRequest) must be accepted by the host with the same fields when
// they hold no separator and GBK can carry them, and the host's reply with those fields
// (svc::BuildReply) must split in the program (DecodeReply, SplitString) into the same fields.
#include "accounts.h"
#include "demodata.h"
#include "fuzzcommon.h"
#include "packcatalogue.h"
#include "platform/codec.h"
#include "service/message.h"
#include "serviceclient.h"
#include "servicehost.h"
#include "serviceprotocol.h"

#include <QStringList>

#include <string>
#include <vector>

namespace {

QString joined(const std::vector<std::string>& fields)
{
    QStringList out;
    for (const std::string& f : fields)
        out.append(QString::fromStdString(f));
    return out.join(u'|');
}

int hostPort()
{
    static const int port = [] {
        const std::string data = (fuzz::Sandbox() + QStringLiteral("/data")).toStdString();
        std::string error;
        if (!MakeDemoData(data, &error))
            fuzz::Fail("cannot make the demo data", QString::fromStdString(error));
        auto* accounts = new Accounts; // both live as long as the process
        if (!accounts->Open(data + "/" + std::string(layout::kAccounts), &error))
            fuzz::Fail("cannot open the accounts", QString::fromStdString(error));
        ServiceHost::Config config;
        config.port = 0;
        config.versionsFile = data + "/" + std::string(layout::kVersions);
        config.receiveTimeoutMs = 2000;
        config.hashThreads = 1;
        // Password hashing takes long under the sanitizers: one login, then refusals.
        config.loginsPerSecond = 1e-9;
        config.loginBurst = 1;
        auto* host = new ServiceHost(*accounts, config, [](const std::string&) {});
        if (!host->Start(&error))
            fuzz::Fail("cannot start the service host", QString::fromStdString(error));
        return host->Port();
    }();
    return port;
}

void checkHostReply(const QByteArray& bytes)
{
    const std::string reply = svc::Exchange(hostPort(), bytes.toStdString());
    if (reply.empty())
        return;
    if (reply.size() > svc::kMaxReplyBytes || !reply.ends_with(std::string_view("\0\0", 2))
        || reply.front() != '^')
        fuzz::Fail("a reply the program cannot take",
                   QString::fromLatin1(QByteArray::fromStdString(reply).toHex()));
}

void checkWireRequest(const QByteArray& bytes)
{
    const QByteArray text = bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0'));
    const svc::ParseResult parsed = svc::ParseRequest(
        std::string_view(text.constData(), size_t(text.size())));
    if (!parsed.request) {
        if (parsed.error.empty())
            fuzz::Fail("a refused request without a reason", QString::fromLatin1(text.toHex()));
        return;
    }
    const svc::Request& request = *parsed.request;
    if ((request.code != svc::kUpdateCode && request.code != svc::kLoginCode)
        || request.fields.size() != svc::kDataFields)
        fuzz::Fail("an accepted request of the wrong shape", QString::fromLatin1(text.toHex()));
    const std::optional<std::string> again = svc::BuildRequest(request.code, request.fields);
    if (!again)
        fuzz::Fail("an accepted request cannot be laid out again", joined(request.fields));
    const svc::ParseResult reparsed = svc::ParseRequest(
        std::string_view(*again).substr(0, again->find('\0')));
    if (!reparsed.request || reparsed.request->fields != request.fields)
        fuzz::Fail("a request laid out again reads differently", joined(request.fields));
}

void checkProgramToHost(const QByteArray& choice, const QList<QByteArray>& parts)
{
    const bool login = !choice.isEmpty() && (choice.at(0) & 1);
    QStringList fields;
    std::vector<std::string> expected;
    bool carriable = true;
    for (const QByteArray& part : parts) {
        const QString field = QString::fromUtf8(part);
        fields.append(field);
        expected.push_back(field.toStdString());
        const QByteArray ansi = platform::ToAnsi(field);
        carriable = carriable && !field.contains(service::kSeparator) && !field.contains(QChar(u'\0'))
            && ansi.count('?') == field.count(u'?');
    }
    const QByteArray wire = service::EncodeRequest(
        service::BuildRequest(login ? service::kLoginCode : service::kUpdateCheckCode, fields,
                              login ? service::LengthUnit::AnsiBytes : service::LengthUnit::Utf16Units));
    if (!wire.endsWith(QByteArrayView("\0\0", 2)))
        fuzz::Fail("a request without its two zero bytes");
    const QByteArray text = wire.left(wire.indexOf('\0'));
    const svc::ParseResult parsed = svc::ParseRequest(
        std::string_view(text.constData(), size_t(text.size())));
    if (carriable && size_t(text.size()) <= svc::kMaxRequestBytes
        && (!parsed.request || parsed.request->fields != expected))
        fuzz::Fail("the host refuses or misreads the program's request",
                   QString::fromStdString(parsed.error) + u' ' + fields.join(u'|'));

    const std::string code(login ? svc::kLoginCode : svc::kUpdateCode);
    if (const std::optional<std::string> reply = svc::BuildReply(code, expected)) {
        QStringList got;
        SplitString(service::DecodeReply(QByteArray::fromStdString(*reply)), service::kSeparator, got);
        const QStringList want = QStringList{u'^' + QString::fromStdString(code), got.value(1)} + fields
            + QStringList{QStringLiteral("~")};
        if (reply->size() > svc::kMaxReplyBytes + 2 || (carriable && got != want))
            fuzz::Fail("the program misreads the host's reply", got.join(u'|') + u'\n' + want.join(u'|'));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = fuzz::Split(data, size, 6);
    checkWireRequest(parts.at(0));
    checkHostReply(parts.at(0));
    checkProgramToHost(parts.at(1), parts.mid(2));
    return 0;
}

QList<QByteArray> FuzzSeeds()
{
    const auto request = [](const char* code, const QStringList& fields, service::LengthUnit unit) {
        return service::EncodeRequest(service::BuildRequest(QLatin1String(code), fields, unit));
    };
    const QStringList update{QStringLiteral("00-11-22-33-44-55"), QStringLiteral("192.168.1.2"),
                             QStringLiteral("20261201000000"), QStringLiteral("1.0.0")};
    const QStringList login{QStringLiteral("00-11-22-33-44-55"), QStringLiteral("玩家"),
                            QStringLiteral("pass~word"), QStringLiteral("192.168.1.2")};
    QList<QByteArray> seeds;
    seeds.append(
        fuzz::Join({request("11", update, service::LengthUnit::Utf16Units), "0", "a", "b", "c", "d"}));
    seeds.append(
        fuzz::Join({request("12", login, service::LengthUnit::AnsiBytes), "1",
                    QStringLiteral("00-11").toUtf8(), QStringLiteral("用户").toUtf8(), "p", "10.0.0.1"}));
    seeds.append(fuzz::Join({"^13\x11"
                             "0000000020\x11"
                             "a\x11~",
                             "1", "\x11", "", "\xf0\x9f\x98\x80", "~"}));
    return seeds;
}
