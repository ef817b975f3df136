// The page API as the tool page sees it: every method called from a real page, with what the
// page gets back.
#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "config/inifile.h"
#include "config/programdir.h"
#include "download/downloadjobs.h"
#include "pagefixture.h"
#include "pagehost/htmlctrl.h"
#include "widgets/gamefolderbrowser.h"
#include "widgets/messagebox.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <atomic>
#include <functional>
#include <thread>

namespace {

QString js(const QString& text)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1);
}

// A body sent in small pieces with pauses, so a download has many progress steps and can be
// paused midway.
TestResource slowBody(qsizetype size, int pauseMs)
{
    TestResource body(TestPattern(size));
    body.pieceSize = 8192;
    body.pieceDelayMs = pauseMs;
    return body;
}

} // namespace

class PageApiTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PageFixture> m_page;
    QTemporaryDir m_dir;
    QStringList m_downloads; // files this test leaves in the program's Downloads folder

    // Runs `work` on a worker thread while this (the page's) thread keeps serving the page.
    static void FromWorker(const std::function<void()>& work)
    {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            work();
            done = true;
        });
        QVERIFY(QTest::qWaitFor([&] { return done.load(); }, 20000));
        worker.join();
    }

    QString P(const QString& name) const { return m_dir.filePath(name); }
    QJsonValue Call(const QString& expression)
    {
        return m_page->Json(QStringLiteral("return %1;").arg(expression));
    }
    // The message of the error a call throws, or "no error".
    QString Throws(const QString& expression)
    {
        return m_page
            ->Eval(QStringLiteral("(() => { try { %1; return 'no error'; } catch (e) { return e.name + ': ' "
                                  "+ e.message; } })()")
                       .arg(expression))
            .toString();
    }

private slots:
    void initTestCase()
    {
        m_page = std::make_unique<PageFixture>();
        QVERIFY(m_dir.isValid());
        // The server answers Range requests itself (206 with the rest of the body).
        m_page->Server().Put("/file.bin", slowBody(400 * 1024, 2));
        m_page->Server().Put("/slow.bin", slowBody(800 * 1024, 30));
        QVERIFY(m_page->LoadToolPage(
            "/api.html",
            QStringLiteral("<html><body><script>window.external_ = window.external; window.reports = [];"
                           "function OnDownloadProgress(s, h, l, p) { reports.push([s, h, l, p]); "
                           "}</script></body></html>")));
    }

    void cleanupTestCase()
    {
        m_page.reset();
        for (const QString& name : m_downloads)
            QFile::remove(GetProgramDir() + QStringLiteral("Downloads/") + name);
    }

    void dispatchNamesArgumentsAndResults()
    {
        // Names in any letter case reach the method; unknown names are not there.
        QCOMPARE(
            Call(QStringLiteral("[external.GetVersion(), external.getversion(), external.GETVERSION()]")),
            QJsonValue(QJsonArray{1, 1, 1}));
        QCOMPARE(Call(QStringLiteral(
                     "[typeof external.NoSuchMethod, 'getFilePath' in external, 'Nope' in external]")),
                 QJsonValue(QJsonArray{QStringLiteral("undefined"), true, false}));
        QVERIFY(Throws(QStringLiteral("external.NoSuchMethod()")).startsWith(u"TypeError"));

        // Results as typed: int, string, boolean, none.
        QCOMPARE(Call(QStringLiteral(
                     "[typeof external.GetVersion(), typeof external.GetAppPath(),"
                     " typeof external.ShowPageWindow(), typeof external.GetFilePath('/no/such')]")),
                 QJsonValue(QJsonArray{QStringLiteral("number"), QStringLiteral("string"),
                                       QStringLiteral("undefined"), QStringLiteral("string")}));

        // Wrong argument counts and unconvertible arguments throw and run nothing.
        const QString ini = P(QStringLiteral("args.ini"));
        QVERIFY(Throws(QStringLiteral("external.SetConfigString('s', 'k', %1)").arg(js(ini)))
                    .contains(u"wrong number"));
        QVERIFY(Throws(QStringLiteral("external.SetConfigString('s', 'k', 'v', %1, 5)").arg(js(ini)))
                    .contains(u"wrong number"));
        QVERIFY(Throws(QStringLiteral("external.GetVersion(1)")).contains(u"wrong number"));
        QVERIFY(!QFile::exists(ini));
        QCOMPARE(Throws(QStringLiteral("external.GetRegString('abc', 'x', 'y')")),
                 QStringLiteral("TypeError: window.external.GetRegString: argument 1: type mismatch"));
        QVERIFY(Throws(QStringLiteral("external.SendMessage(0, null, 0, 0)"))
                    .contains(u"argument 2: type mismatch"));
        QVERIFY(Throws(QStringLiteral("external.ShowWindow(0, 3e9)")).contains(u"argument 2: overflow"));
        QVERIFY(Throws(QStringLiteral("external.SetCallBack(5)")).contains(u"type mismatch"));

        // Numbers given as text, booleans and numbers where text is expected are converted.
        QCOMPARE(Call(QStringLiteral("external.SendMessage('0', ' 16 ', true, 2.5)")), QJsonValue(0));
        QCOMPARE(Call(QStringLiteral("external.SetConfigString(1.5, true, 12, %1)").arg(js(ini))),
                 QJsonValue(1));
        QCOMPARE(ReadIniString(ini, QStringLiteral("1.5"), QStringLiteral("-1")), QStringLiteral("12"));
        QCOMPARE(Call(QStringLiteral("external.GetConfigString('1.5', -1, %1)").arg(js(ini))),
                 QJsonValue(QStringLiteral("12")));
    }

    void configRoundTrips()
    {
        const QString ini = P(QStringLiteral("config.ini"));
        QCOMPARE(Call(QStringLiteral("external.GetConfigString('system', 'missing', %1)").arg(js(ini))),
                 QJsonValue(QString()));
        QCOMPARE(Call(QStringLiteral("external.SetConfigString('CF Info', 'FOLDER', '/games/穿越火线', %1)")
                          .arg(js(ini))),
                 QJsonValue(1));
        QCOMPARE(Call(QStringLiteral("external.GetConfigString('cf info', 'folder', %1)").arg(js(ini))),
                 QJsonValue(QStringLiteral("/games/穿越火线")));
        // A value of 9,000 characters is stored whole and read back cut to 8,191.
        QCOMPARE(Call(QStringLiteral("external.SetConfigString('system', 'big', 'x'.repeat(8999) + 'y', %1)")
                          .arg(js(ini))),
                 QJsonValue(1));
        QCOMPARE(ReadIniString(ini, QStringLiteral("system"), QStringLiteral("big"), {}, 10000).size(), 9000);
        QCOMPARE(Call(QStringLiteral("external.GetConfigString('system', 'big', %1)").arg(js(ini))),
                 QJsonValue(QString(8191, u'x')));
        // A value the file cannot hold is refused, and the file keeps what it had.
        QCOMPARE(Call(QStringLiteral("external.SetConfigString('system', 'big', 'a\\nb', %1)").arg(js(ini))),
                 QJsonValue(0));
        QCOMPARE(ReadIniString(ini, QStringLiteral("system"), QStringLiteral("big"), {}, 10000).size(), 9000);
    }

    void callsOfAnyLengthArriveWhole()
    {
        // Values and paths of 10 KB, 1 MB and 16 MB reach the method whole (the engine cuts a
        // prompt's message at 10,240 characters); quotes, backslashes and wide characters too.
        const QString ini = P(QStringLiteral("long.ini"));
        for (const int size : {10 * 1024, 1024 * 1024, 16 * 1024 * 1024}) {
            const QString value = QStringLiteral("'x'.repeat(%1) + '\"\\\\云帆'").arg(size - 4);
            QCOMPARE(
                Call(QStringLiteral("external.SetConfigString('long', 'v', %1, %2)").arg(value, js(ini))),
                QJsonValue(1));
            const QString stored = ReadIniString(ini, QStringLiteral("long"), QStringLiteral("v"), {},
                                                 size + 1);
            QCOMPARE(stored.size(), size);
            QVERIFY(stored.endsWith(QStringLiteral("\"\\云帆")));
            QCOMPARE(Call(QStringLiteral("external.GetConfigString('long', 'v', %1).length").arg(js(ini))),
                     QJsonValue(8191));
            const QString path = QStringLiteral("%1 + '/' + 'p'.repeat(%2)").arg(js(m_dir.path())).arg(size);
            QCOMPARE(
                Call(QStringLiteral(
                         "[external.GetFilePath(%1), external.DeleteFile(%1), external.CopyFile(%1, %1)]")
                         .arg(path)),
                QJsonValue(QJsonArray{QString(), 0, 0}));
        }

        // A call that does not arrive whole, or is no call, says so and runs nothing.
        const QString marker = QStringLiteral("'\\u0001YFZS-external\\u0001'");
        const QJsonObject cut =
            QJsonDocument::fromJson(
                m_page->Eval(QStringLiteral("prompt(%1 + '99', '[17,[]]')").arg(marker)).toString().toUtf8())
                .object();
        QCOMPARE(cut.value(u"e").toString(),
                 QStringLiteral("the call arrived incomplete (7 of 99 characters)"));
        const QJsonObject junk =
            QJsonDocument::fromJson(
                m_page->Eval(QStringLiteral("prompt(%1 + '5', 'hello')").arg(marker)).toString().toUtf8())
                .object();
        QVERIFY(junk.value(u"e").toString().startsWith(u"the call could not be read"));
    }

    void fileMethods()
    {
        const QString a = P(QStringLiteral("a.txt"));
        const QString b = P(QStringLiteral("b.txt"));
        const QString c = P(QStringLiteral("c.txt"));
        QVERIFY(writeFile(a, "alpha"));
        QVERIFY(writeFile(b, "beta"));
        // CopyFile replaces an existing target; a missing source copies nothing.
        QCOMPARE(Call(QStringLiteral("external.CopyFile(%1, %2)").arg(js(a), js(b))), QJsonValue(1));
        QCOMPARE(readFile(b), QByteArray("alpha"));
        QCOMPARE(Call(QStringLiteral("external.CopyFile(%1, %2)").arg(js(P(QStringLiteral("none"))), js(b))),
                 QJsonValue(0));
        QCOMPARE(Call(QStringLiteral("external.CopyFile(%1, %1)").arg(js(a))), QJsonValue(0));
        QCOMPARE(readFile(a), QByteArray("alpha"));

        // MoveFile replaces an existing target, moves onto a new name, and never costs the
        // target when there is nothing to move.
        QVERIFY(writeFile(c, "gamma"));
        QCOMPARE(Call(QStringLiteral("external.MoveFile(%1, %2)").arg(js(c), js(b))), QJsonValue(1));
        QCOMPARE(readFile(b), QByteArray("gamma"));
        QVERIFY(!QFile::exists(c));
        QCOMPARE(Call(QStringLiteral("external.MoveFile(%1, %2)").arg(js(b), js(c))), QJsonValue(1));
        QCOMPARE(readFile(c), QByteArray("gamma"));
        QCOMPARE(Call(QStringLiteral("external.MoveFile(%1, %2)").arg(js(P(QStringLiteral("none"))), js(c))),
                 QJsonValue(0));
        QCOMPARE(readFile(c), QByteArray("gamma"));
        // Onto itself, by the same name or another one for the same file: 0, the file kept.
        QVERIFY(QFile::link(c, P(QStringLiteral("c-link.txt"))));
        QCOMPARE(Call(QStringLiteral(
                          "[external.MoveFile(%1, %1), external.MoveFile(%2, %1), external.MoveFile(%1, %3)]")
                          .arg(js(c), js(P(QStringLiteral("c-link.txt"))),
                               js(m_dir.path() + QStringLiteral("/./c.txt")))),
                 QJsonValue(QJsonArray{0, 0, 0}));
        QCOMPARE(readFile(c), QByteArray("gamma"));
        QFile::remove(P(QStringLiteral("c-link.txt")));

        // DeleteFile: a missing file or a folder is 0; paths may use '\'.
        QCOMPARE(Call(QStringLiteral("external.DeleteFile(%1)").arg(js(P(QStringLiteral("none"))))),
                 QJsonValue(0));
        QCOMPARE(Call(QStringLiteral("external.DeleteFile(%1)").arg(js(m_dir.path()))), QJsonValue(0));
        QCOMPARE(Call(QStringLiteral("external.DeleteFile(%1)").arg(js(QString(c).replace(u'/', u'\\')))),
                 QJsonValue(1));
        QVERIFY(!QFile::exists(c));

        // GetFilePath: the folder with its separator, wildcards allowed; nothing for a miss.
        const QString folder = m_dir.path() + u'/';
        QCOMPARE(Call(QStringLiteral("external.GetFilePath(%1)").arg(js(a))), QJsonValue(folder));
        QCOMPARE(Call(QStringLiteral("external.GetFilePath(%1)").arg(js(folder + QStringLiteral("*.txt")))),
                 QJsonValue(folder));
        QCOMPARE(Call(QStringLiteral("external.GetFilePath(%1)").arg(js(folder + QStringLiteral("?.txt")))),
                 QJsonValue(folder));
        QCOMPARE(Call(QStringLiteral("external.GetFilePath(%1)").arg(js(folder + QStringLiteral("*.zip")))),
                 QJsonValue(QString()));
        QCOMPARE(Call(QStringLiteral("external.GetFilePath(%1)").arg(js(folder + QStringLiteral("none")))),
                 QJsonValue(QString()));
        QCOMPARE(Call(QStringLiteral("external.GetFilePath('/')")), QJsonValue(QString()));

        // UnzipFile with an empty argument touches nothing; a missing archive fails.
        const QString out = P(QStringLiteral("out"));
        QCOMPARE(Call(QStringLiteral("external.UnzipFile(%1, '')").arg(js(a))), QJsonValue(0));
        QCOMPARE(Call(QStringLiteral("external.UnzipFile('', %1)").arg(js(out))), QJsonValue(0));
        QCOMPARE(
            Call(
                QStringLiteral("external.UnzipFile(%1, %2)").arg(js(P(QStringLiteral("none.zip"))), js(out))),
            QJsonValue(0));
        QVERIFY(!QFile::exists(out));
    }

    void registryReadsFromTheWinePrefix()
    {
        const QString prefix = P(QStringLiteral("wine"));
        QVERIFY(QDir().mkpath(prefix));
        QVERIFY(writeFile(
            prefix + QStringLiteral("/user.reg"),
            "WINE REGISTRY Version 2\n\n[Software\\\\Vendor\\\\Tool] 1700000000\n"
            "\"Plain\"=\"hello\"\n\"Expand\"=str(2):\"%SystemRoot%\\\\fonts\"\n\"Number\"=dword:00000010\n"));
        QVERIFY(writeFile(prefix + QStringLiteral("/system.reg"), "WINE REGISTRY Version 2\n"));
        EnvGuard env;
        env.Set("WINEPREFIX", prefix.toUtf8());
        QCOMPARE(Call(QStringLiteral("[external.GetRegString(1, 'Software\\\\Vendor\\\\Tool', 'Plain'),"
                                     " external.GetRegString('1', 'software\\\\vendor\\\\tool', 'Expand'),"
                                     " external.GetRegString(1, 'Software\\\\Vendor\\\\Missing', 'Plain'),"
                                     " external.GetRegString(9, 'Software\\\\Vendor\\\\Tool', 'Plain'),"
                                     " external.GetRegString(1, 'Software\\\\Vendor\\\\Tool', 'Number')]")),
                 QJsonValue(QJsonArray{QStringLiteral("hello"), QStringLiteral("%SystemRoot%\\fonts"),
                                       QString(), QString(), QString()}));

        // The game in a prefix of its own, as game managers keep it: the install folder is asked
        // of the registry and answered from the one installation found, config.ini untouched.
        const QString home = P(QStringLiteral("home"));
        const QString game = home + QStringLiteral("/Games/cf/drive_c/Program Files/Tencent/CrossFire");
        QVERIFY(writeFile(home + QStringLiteral("/Games/cf/system.reg"), "WINE REGISTRY Version 2\n"));
        QVERIFY(writeFile(game + QStringLiteral("/QQLogin.exe"), "MZ"));
        env.Set("HOME", home.toUtf8());
        QCOMPARE(Call(QStringLiteral(
                     "[external.GetRegString(2, 'Software\\\\Tencent\\\\CrossFire', 'InstallPath'),"
                     " external.GetRegString(2, 'Software\\\\Tencent\\\\CrossFire', 'Other')]")),
                 QJsonValue(QJsonArray{game, QString()}));
        QVERIFY(writeFile(home + QStringLiteral("/Games/cf2/system.reg"), "WINE REGISTRY Version 2\n"));
        QVERIFY(writeFile(home + QStringLiteral("/Games/cf2/drive_c/CrossFire/QQLogin.exe"), "MZ"));
        // Two installations: the page is not told one of them.
        QCOMPARE(Call(QStringLiteral(
                     "external.GetRegString(2, 'Software\\\\Tencent\\\\CrossFire', 'InstallPath')")),
                 QJsonValue(QString()));
    }

    void windowAndApplicationMethods()
    {
        QWidget* main = m_page->MainWindow();
        const int handle = m_page->View()->GetMainWindow();
        QVERIFY(handle != 0);
        QCOMPARE(Call(QStringLiteral("[external.GetMainWindow(), external.GetParentWindow()]")),
                 QJsonValue(QJsonArray{handle, handle}));
        QCOMPARE(Call(QStringLiteral("external.GetAppPath()")).toString(), GetProgramDir());
        QVERIFY(GetProgramDir().endsWith(u'/'));

        // Two MaxOrNormalWindow calls maximise and restore.
        QVERIFY(!main->isMaximized());
        m_page->Eval(QStringLiteral("external.MaxOrNormalWindow()"));
        QVERIFY(main->isMaximized());
        m_page->Eval(QStringLiteral("external.MaxOrNormalWindow()"));
        QVERIFY(!main->isMaximized());

        // Messages and show commands act on the program's own windows; anything else is 0.
        QCOMPARE(Call(QStringLiteral("external.SendMessage(0, 0x10, 0, 0)")), QJsonValue(0));
        QCOMPARE(Call(QStringLiteral("external.SendMessage(%1, 0x112, 0xF020, 0)").arg(handle)),
                 QJsonValue(0));
        QVERIFY(main->isMinimized());
        QCOMPARE(Call(QStringLiteral("external.ShowWindow(%1, 9)").arg(handle)), QJsonValue(1));
        QVERIFY(!main->isMinimized());
        QCOMPARE(Call(QStringLiteral("external.SendMessage(%1, 0x112, 0xF030, 0)").arg(handle)),
                 QJsonValue(0));
        QVERIFY(main->isMaximized());
        QCOMPARE(Call(QStringLiteral("external.SendMessage(%1, 0x112, 0xF120, 0)").arg(handle)),
                 QJsonValue(0));
        QVERIFY(!main->isMaximized());
        QCOMPARE(Call(QStringLiteral("external.ShowWindow(%1, 99)").arg(handle)), QJsonValue(0));
        QCOMPARE(Call(QStringLiteral("external.ShowWindow(%1, 5)").arg(handle + 12345)), QJsonValue(0));
        QCOMPARE(Call(QStringLiteral("external.SendMessage(%1, 0x400, 1, 2)").arg(handle)), QJsonValue(0));
        QVERIFY(main->isVisible());
        m_page->Eval(QStringLiteral("external.ShowPageWindow(); external.MoveWindow();"));
        QVERIFY(main->isVisible());

        // RunExe of a missing file: the failure message, and false.
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        QCOMPARE(Call(QStringLiteral("external.RunExe(%1)").arg(js(P(QStringLiteral("missing.exe"))))),
                 QJsonValue(false));
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(),
                 QStringList{QStringLiteral("游戏运行失败，请检查游戏目录是否正确！")});

        // FindCF / FindTYF: the folder browser; a cancelled browse is false with its message.
        widgets::SetNextBrowsedFolder(QString());
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        QCOMPARE(Call(QStringLiteral("external.FindCF()")), QJsonValue(false));
        QCOMPARE(widgets::TakeBrowsedTitles().size(), 1);
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts().size(), 1);
    }

    void progressReachesTheRegisteredDocument()
    {
        m_page->Eval(QStringLiteral("reports = [];"));
        // The window object registers nothing: nothing is reported.
        QCOMPARE(Call(QStringLiteral("external.SetCallBack(window)")), QJsonValue(0));
        FromWorker([this] { m_page->View()->InvokePageProgress(1, 0, 1, 50); });
        QCOMPARE(m_page->Eval(QStringLiteral("reports.length")).toInt(), 0);

        // The document registers. A worker's report runs the page's function while the worker
        // waits: the handler writes the percentage through the page API, and the worker finds
        // it written as soon as its call returns.
        const QString ini = P(QStringLiteral("progress.ini"));
        QCOMPARE(Call(QStringLiteral("external.SetCallBack(document)")), QJsonValue(0));
        m_page->Eval(
            QStringLiteral("window.OnDownloadProgress = function (s, h, l, p) { reports.push([s, h, l, p]);"
                           " external.SetConfigString('p', 'last', String(p), %1); };")
                .arg(js(ini)));
        QStringList seen;
        std::thread worker([&] {
            for (int p = 0; p <= 100; p += 25) {
                m_page->View()->InvokePageProgress(p == 100 ? 2 : 1, 3, -4, p);
                seen.append(ReadIniString(ini, QStringLiteral("p"), QStringLiteral("last")));
            }
        });
        while (seen.size() < 5)
            QTest::qWait(5);
        worker.join();
        QCOMPARE(seen,
                 QStringList({QStringLiteral("0"), QStringLiteral("25"), QStringLiteral("50"),
                              QStringLiteral("75"), QStringLiteral("100")}));
        QCOMPARE(m_page->Json(QStringLiteral("return reports;")).toArray().last(),
                 QJsonValue(QJsonArray{2, 3, -4, 100}));

        // A page without the function hears nothing and nothing breaks.
        m_page->Eval(QStringLiteral("window.OnDownloadProgress = undefined; reports = [];"));
        FromWorker([this] { m_page->View()->InvokePageProgress(1, 0, 1, 10); });
        QCOMPARE(m_page->Eval(QStringLiteral("reports.length")).toInt(), 0);
        m_page->Eval(QStringLiteral(
            "window.OnDownloadProgress = function (s, h, l, p) { reports.push([s, h, l, p]); };"));
    }

    void downloadsReportInOrder()
    {
        m_page->Eval(QStringLiteral("reports = []; external.SetCallBack(document);"));
        const QString name = QStringLiteral("pagehost-test-%1.bin").arg(QCoreApplication::applicationPid());
        m_downloads << name;
        QFile::remove(GetProgramDir() + QStringLiteral("Downloads/") + name);
        const QString url = m_page->ToolUrl(QStringLiteral("/file.bin"));
        QCOMPARE(Call(QStringLiteral(
                          "[external.DownloadFile(%1, %2, 0, -1), external.DownloadFile(%1, %2, 0, -1)]")
                          .arg(js(url), js(name))),
                 QJsonValue(QJsonArray{1, 0})); // the second finds the job running
        QTRY_VERIFY_WITH_TIMEOUT(m_page->Eval(QStringLiteral("reports.some(r => r[0] !== 1)")).toBool(),
                                 30000);
        const QJsonArray reports = m_page->Json(QStringLiteral("return reports;")).toArray();
        QVERIFY(reports.size() > 3);
        int last = -1;
        for (qsizetype i = 0; i + 1 < reports.size(); ++i) {
            const QJsonArray r = reports.at(i).toArray();
            QCOMPARE(r.at(0).toInt(), 1);
            QCOMPARE(r.at(1).toInt(), -1); // (0, -1) reports as halves -1, -1
            QCOMPARE(r.at(2).toInt(), -1);
            QVERIFY(r.at(3).toInt() > last);
            last = r.at(3).toInt();
        }
        QCOMPARE(reports.last(), QJsonValue(QJsonArray{2, -1, -1, 100}));
        QCOMPARE(QFileInfo(GetProgramDir() + QStringLiteral("Downloads/") + name).size(), 400 * 1024);

        // A request that cannot be set up is heard before DownloadFile returns.
        QCOMPARE(Call(QStringLiteral("[external.DownloadFile('ftp://nowhere/x', %1, 0, 9),"
                                     " reports.filter(r => r[2] === 9)]")
                          .arg(js(name + QStringLiteral(".bad")))),
                 QJsonValue(QJsonArray{1, QJsonArray{QJsonArray{-1, 0, 9, 0}}}));
        m_downloads << name + QStringLiteral(".bad");
    }

    void pauseAndResume()
    {
        m_page->Eval(QStringLiteral("reports = [];"));
        const QString name =
            QStringLiteral("pagehost-test-%1-slow.bin").arg(QCoreApplication::applicationPid());
        m_downloads << name;
        QFile::remove(GetProgramDir() + QStringLiteral("Downloads/") + name);
        const QString start = QStringLiteral("external.DownloadFile(%1, %2, 0, 7)")
                                  .arg(js(m_page->ToolUrl(QStringLiteral("/slow.bin"))), js(name));
        QCOMPARE(Call(start), QJsonValue(1));
        QTRY_VERIFY_WITH_TIMEOUT(
            m_page->Eval(QStringLiteral("reports.some(r => r[0] === 1 && r[3] >= 5)")).toBool(), 20000);
        QCOMPARE(Call(QStringLiteral("[external.PauseDownload(0, 7), external.PauseDownload(5, 5)]")),
                 QJsonValue(QJsonArray{1, 0}));
        QTRY_COMPARE_WITH_TIMEOUT(m_page->Json(QStringLiteral("return reports[reports.length - 1];")),
                                  QJsonValue(QJsonArray{-100, 0, 7, 0}), 20000);
        const int before = m_page->Json(QStringLiteral("return reports[reports.length - 2][3];")).toInt();
        QVERIFY(before < 100);

        // The same job again resumes after the bytes already written.
        m_page->Eval(QStringLiteral("reports = [];"));
        QCOMPARE(Call(start), QJsonValue(1));
        QTRY_VERIFY_WITH_TIMEOUT(m_page->Eval(QStringLiteral("reports.some(r => r[0] !== 1)")).toBool(),
                                 60000);
        const QJsonArray after = m_page->Json(QStringLiteral("return reports;")).toArray();
        QCOMPARE(after.last(), QJsonValue(QJsonArray{2, 0, 7, 100}));
        if (after.size() > 1)
            QVERIFY(after.first().toArray().at(3).toInt() != before);
        QCOMPARE(QFileInfo(GetProgramDir() + QStringLiteral("Downloads/") + name).size(), 800 * 1024);
    }

    // Each window its own handle, whatever the window system calls its windows, and a command
    // reaches only the window it names. Last: a second view takes the page's download reports
    // over (the program has one view), which the cases above rely on.
    void windowsHaveTheirOwnHandles()
    {
        QWidget* main = m_page->MainWindow();
        const int handle = m_page->View()->GetMainWindow();
        QWidget other;
        auto* otherView = new CHtmlCtrl(&other);
        other.show();
        const int otherHandle = otherView->GetMainWindow();
        QVERIFY(otherHandle != 0 && otherHandle != handle);
        QCOMPARE(otherView->GetMainWindow(), otherHandle);
        QCOMPARE(Call(QStringLiteral("external.ShowWindow(%1, 0)").arg(otherHandle)), QJsonValue(1));
        QVERIFY(!other.isVisible());
        QVERIFY(main->isVisible());
    }
};

YFZS_TEST_CLASS(PageApiTest)
#include "pageapi_test.moc"
