// Fuzz target: the tool server's HTTP handling from raw bytes to the reply. One server runs on
// loopback over demo data for the whole run; each input is sent on a fresh connection as it
// is, the sending side is closed and the reply read to its end. Beside the web and data
// folders lies a file that no request may ever reach. Checked: every reply starts with a
// status line, no reply carries the file from beside the folders, and a partial reply (206)
// states a range that lies in its file and matches its length.
#include "accounts.h"
#include "demodata.h"
#include "fuzzcommon.h"
#include "packcatalogue.h"
#include "serviceclient.h"
#include "toolserver.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <string>

namespace {

constexpr char kSecret[] = "QX77-FUZZ-OUTSIDE-THE-SERVED-FOLDERS";

struct Server
{
    Accounts accounts;
    std::unique_ptr<ToolServer> tool;
};

int port()
{
    static const int running = [] {
        const QString root = fuzz::Sandbox();
        const QString data = root + QStringLiteral("/data");
        const QString web = root + QStringLiteral("/web");
        QDir().mkpath(web);
        for (const QString& name : QDir(QStringLiteral(QX77_WEB_DIR)).entryList(QDir::Files))
            QFile::copy(QStringLiteral(QX77_WEB_DIR "/") + name, web + u'/' + name);
        fuzz::WriteFile(root + QStringLiteral("/secret.txt"), kSecret);
        fuzz::WriteFile(root + QStringLiteral("/data/packs/secret.zip"), kSecret); // named in no catalogue
        std::string error;
        if (!MakeDemoData(data.toStdString(), &error))
            fuzz::Fail("cannot make the demo data", QString::fromStdString(error));
        QFile::remove(data + QStringLiteral("/packs/secret.zip"));
        fuzz::WriteFile(root + QStringLiteral("/data.secret"), kSecret);
        auto* server = new Server; // lives as long as the process
        if (!server->accounts.Open(
                (data + QStringLiteral("/") + QString::fromLatin1(layout::kAccounts.data())).toStdString()))
            fuzz::Fail("cannot open the accounts");
        ToolServer::Config config{"127.0.0.1", 0, data.toStdString(), web.toStdString()};
        config.limits.head = config.limits.idle = config.limits.body = std::chrono::milliseconds(2000);
        // Password hashing takes long under the sanitizers: one registration, then refusals.
        config.registrationsPerSecond = 1e-9;
        config.registrationBurst = 1;
        server->tool = std::make_unique<ToolServer>(server->accounts, config, [](const std::string&) {});
        if (!server->tool->Start(&error))
            fuzz::Fail("cannot start the tool server", QString::fromStdString(error));
        return server->tool->Port();
    }();
    return running;
}

void checkPartial(const QString& head, const std::string& reply)
{
    static const QRegularExpression range(
        QStringLiteral("\\r\\nContent-Range: bytes (\\d+)-(\\d+)/(\\d+)\\r\\n"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression length(QStringLiteral("\\r\\nContent-Length: (\\d+)\\r\\n"),
                                           QRegularExpression::CaseInsensitiveOption);
    const auto r = range.match(head);
    const auto l = length.match(head);
    if (!r.hasMatch() || !l.hasMatch())
        fuzz::Fail("a partial reply without its range or length", head);
    const qulonglong first = r.captured(1).toULongLong();
    const qulonglong last = r.captured(2).toULongLong();
    const qulonglong total = r.captured(3).toULongLong();
    if (first > last || last >= total || l.captured(1).toULongLong() != last - first + 1)
        fuzz::Fail("a partial reply whose range does not fit", head);
    Q_UNUSED(reply);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string request(reinterpret_cast<const char*>(data), size);
    const std::string reply = svc::Exchange(port(), request);
    if (reply.empty())
        return 0; // dropped without an answer: a malformed or too slow request may be
    if (!reply.starts_with("HTTP/1.1 ") || reply.size() < 12)
        fuzz::Fail("a reply without a status line", QString::fromStdString(reply.substr(0, 200)));
    if (reply.find(kSecret) != std::string::npos)
        fuzz::Fail("a reply carries a file from outside the served folders", QString::fromStdString(request));
    const std::size_t end = reply.find("\r\n\r\n");
    if (end == std::string::npos)
        fuzz::Fail("a reply whose head does not end", QString::fromStdString(reply.substr(0, 200)));
    const QString head = QString::fromStdString(reply.substr(0, end + 2));
    if (reply.compare(9, 3, "206") == 0)
        checkPartial(head, reply);
    return 0;
}

QList<QByteArray> FuzzSeeds()
{
    return {
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        "GET /CF20/CF_Index.aspx HTTP/1.1\r\nHost: a\r\n\r\nGET /CF20/toolpage.js HTTP/1.1\r\n\r\n",
        "GET /api/packs HTTP/1.1\r\nHost: x:1\r\nConnection: close\r\n\r\n",
        "GET /cftoolweb/yxxf.zip HTTP/1.1\r\nRange: bytes=10-20\r\n\r\n",
        "HEAD /cftoolweb/yxxf.zip HTTP/1.1\r\nRange: bytes=-5,0-\r\n\r\n",
        "GET /packs/..%2f..%2fsecret.txt HTTP/1.1\r\n\r\n",
        "GET /CF20/%2e%2e/%2e%2e/secret.txt?x=1 HTTP/1.1\r\n\r\n",
        "GET /CF20/..\\..\\data.secret HTTP/1.0\r\n\r\n",
        "GET /previews/a%00.png HTTP/1.1\r\nRange: bytes=99999999999999999999-\r\n\r\n",
        "POST /member.php?mod=register HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: 41\r\n\r\nusername=%E7%8E%A9&password=a+b&password2",
        "GET /member.php?mod=register HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
        "GET /resources.html HTTP/1.1\r\nHost: [::1]:8088\r\n\r\n"};
}
