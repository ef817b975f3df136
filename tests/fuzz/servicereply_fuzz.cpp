// Fuzz target: the service host's replies as the program takes them. A fake host on loopback
// answers with the input's first part; the program runs a manual update check and a login
// (account and password from the next parts) against it, with a window that records what it
// is told. Checked, beyond the sanitizers: a new version is offered only for a reply that
// announces one, and then update.ini holds that version; a login is shown only for a reply
// that grants it, and then config.ini remembers the account.
#include "config/inifile.h"
#include "config/iniformat.h"
#include "config/programdir.h"
#include "config/settingskeys.h"
#include "fakeservicehost.h"
#include "fuzzcommon.h"
#include "service/login.h"
#include "service/message.h"
#include "service/serviceui.h"
#include "service/timings.h"
#include "service/uirelay.h"
#include "service/updatecheck.h"

#include <QFile>

#include <mutex>

namespace {

std::mutex answerLock;
QByteArray answer;

struct Window : service::ServiceUi
{
    QStringList said;
    bool okToAsk = true;
    bool welcomed = false;

    void ShowMessage(const QString& text) override { said.append(text); }
    bool AskOkCancel(const QString& text) override
    {
        said.append(text);
        return okToAsk;
    }
    void ReadAccountBoxes(QString&, QString&) override { }
    void SetAccountTexts(const QString&, const QString&) override { }
    void ShowAccountPrompt() override { }
    void ClearAccountBoxes() override { }
    void SetControlVisible(service::LoginControl, bool) override { }
    void SetWelcomeText(const QString&, const QRect&) override { welcomed = true; }
    void ReloadPage() override { }
    void LoginDone() override { }
    void StartProgram(const QString&) override { }
    void OpenUrl(const QString&) override { }
    void Quit() override { }
};

FakeServiceHost& host()
{
    static FakeServiceHost* const running = [] {
        auto* h = new FakeServiceHost([](const QByteArray&) {
            std::lock_guard guard(answerLock);
            return FakeServiceHost::Answer{answer};
        });
        h->pointClientHere();
        service::SetTimings(
            {std::chrono::milliseconds(3000), std::chrono::milliseconds(3000), std::chrono::milliseconds(0)});
        return h;
    }();
    return *running;
}

// A value as a read gives it back: blanks around it and one pair of outer quotes dropped.
QString asRead(const QString& value)
{
    return config::ini::SplitKey(QString(QStringLiteral("k=") + value)).value.toString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    host();
    const QList<QByteArray> parts = fuzz::Split(data, size, 4);
    {
        std::lock_guard guard(answerLock);
        answer = parts.at(0);
    }
    QStringList fields;
    SplitString(service::DecodeReply(parts.at(0).left(512)), service::kSeparator, fields);

    const QString updateIni = GetProgramDir() + config::keys::kUpdateFile;
    QFile::remove(updateIni);
    Window window;
    window.okToAsk = !parts.at(3).isEmpty() && (parts.at(3).at(0) & 1);
    {
        service::UiRelay relay(&window);
        service::CheckUpdate(relay, true);
    }
    const bool offered = window.said.contains(QStringLiteral("发现服务器有新版本，是否升级？"))
        || window.said.filter(QStringLiteral("发现服务器有新版本 ")).size() > 0;
    if (offered) {
        if (fields.size() < 7 || fields.at(3) != u"1")
            fuzz::Fail("a new version offered for a reply without one", fields.join(u'|'));
        const QString stored = ReadIniString(updateIni, config::keys::kYfzsVer, config::keys::kVersion,
                                             QStringLiteral("<missing>"), 1 << 20);
        if (stored != asRead(fields.at(5)))
            fuzz::Fail("update.ini does not hold the offered version",
                       stored + QStringLiteral(" / ") + fields.at(5));
    }

    Window loginWindow;
    const QString account = QString::fromUtf8(parts.at(1));
    {
        service::UiRelay relay(&loginWindow);
        Login(relay, account, QString::fromUtf8(parts.at(2)));
    }
    if (loginWindow.welcomed) {
        if (fields.size() < 4 || fields.at(3) != u"1")
            fuzz::Fail("a login shown for a reply that refused it", fields.join(u'|'));
    }
    return 0;
}

QList<QByteArray> FuzzSeeds()
{
    const auto reply = [](const QStringList& tail) {
        const QStringList fields = QStringList{QStringLiteral("^12"), QStringLiteral("0000000040"),
                                               QStringLiteral("0")}
            + tail;
        QByteArray bytes;
        for (QChar c : fields.join(service::kSeparator))
            bytes.append(c.unicode() < 0x80 ? char(c.unicode()) : '?');
        return bytes + QByteArray(2, '\0');
    };
    return {fuzz::Join({reply({QStringLiteral("1"), QStringLiteral("20261210000000"), QStringLiteral("1.2.0"),
                               QStringLiteral("http://127.0.0.1:8088/update.zip"), QStringLiteral("~")}),
                        "demo", "demo123", "\x01"}),
            fuzz::Join({reply({QStringLiteral("0"), QStringLiteral("~")}), "demo", "bad", "\x00"}),
            fuzz::Join({reply({QStringLiteral("1")}), QStringLiteral("玩家").toUtf8(), "p", "\x00"}),
            fuzz::Join({"\xff", "", "", ""}),
            fuzz::Join({QByteArray("^11\x11"
                                   "0000000001\x11"
                                   "0\x11"
                                   "1\x11"
                                   " \"2\" \x11"
                                   "v\r\n\x11"
                                   "x"),
                        "a", "b", "\x01"})};
}
