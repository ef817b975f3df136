#include "appfixture.h"
#include "fakeservicehost.h"
#include "httpfixture.h"
#include "testfiles.h"
#include "testrunner.h"
#include "zipbuilder.h"

#include "app/mainwindow.h"

#include "config/inifile.h"
#include "config/programdir.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

const QString kInstalled = QStringLiteral("安装成功，您可以通过云帆助手【启动游戏】按钮进入游戏！");
const QString kRepaired = QStringLiteral("修复成功，如果还是不能正常运行，请到官网下载最新版！");

template <typename Pred> bool waitUntil(Pred done, int ms = 15000)
{
    return QTest::qWaitFor(done, ms);
}

const QByteArray kPackUi = ZipBuilder().AddFile("readme.txt", "ui pack").AddFile("skin/a.png", "png").Bytes();
const QByteArray kPackMark = ZipBuilder().AddFile("mark.txt", "mark pack").Bytes();
const QByteArray kPackRez = ZipBuilder().AddFile("rez.txt", "rez pack").Bytes();
const QByteArray kRepairArchive =
    ZipBuilder().AddFile("readme.txt", "repaired").AddFile("bin/game.dll", "dll").Bytes();

} // namespace

// The link and repair handlers of a main window in this process, boxes answered through the
// message box seam. The program folder is the test program's own, as for the other window tests.
class LinkFlowInProcessTest : public QObject
{
    Q_OBJECT

private:
    LoopbackHttpServer m_http;
    FakeServiceHost m_service{FakeServiceHost::Quiet()};
    QTemporaryDir m_root;
    std::unique_ptr<EnvGuard> m_env;
    QString m_game;
    QByteArray m_oldConfig;
    bool m_hadConfig = false;
    bool m_hadDownloads = false;

    QString downloads(const QString& name) const
    {
        return GetProgramDir() + QStringLiteral("Downloads/") + name;
    }

    // Closes an install dialog left open after a failed download once its message came.
    static void closeOpenInstallDialogs()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("COnlineDlg") && w->isVisible())
                QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QVERIFY(m_http.Start());
        m_env = std::make_unique<EnvGuard>();
        m_env->Set("QX77_HOST", "127.0.0.1");
        m_env->Set("QX77_TOOL_PORT", QByteArray::number(m_http.Port()));
        m_env->Set("QX77_SERVICE_PORT", QByteArray::number(m_service.port()));
        m_env->Set("XDG_DATA_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("data"))));
        m_env->Set("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("config"))));
        m_env->Set("WINEPREFIX", QFile::encodeName(m_root.filePath(QStringLiteral("wine")))); // no game key

        m_game = m_root.filePath(QStringLiteral("game"));
        QVERIFY(writeFile(m_game + QStringLiteral("/QQLogin.exe"), "game"));
        QVERIFY(writeFile(m_game + QStringLiteral("/readme.txt"), "damaged"));
        QVERIFY(QDir().mkpath(m_game + QStringLiteral("/rez")));

        QFile config(config::GetConfigPath());
        m_hadConfig = config.open(QIODevice::ReadOnly);
        if (m_hadConfig)
            m_oldConfig = config.readAll();
        config.close();
        QFile::remove(config::GetConfigPath());
        QVERIFY(WriteIniString(config::GetConfigPath(), QStringLiteral("CF Info"), QStringLiteral("FOLDER"),
                               m_game));
        m_hadDownloads = QFileInfo::exists(GetProgramDir() + QStringLiteral("Downloads"));
        QFile::remove(downloads(QStringLiteral("ui.zip")));
        QFile::remove(downloads(QStringLiteral("yxxf.zip")));
        widgets::msgbox::TakeAnsweredTexts();
    }

    void cleanupTestCase()
    {
        QFile::remove(config::GetConfigPath());
        if (m_hadConfig)
            writeFile(config::GetConfigPath(), m_oldConfig);
        QFile::remove(downloads(QStringLiteral("ui.zip")));
        QFile::remove(downloads(QStringLiteral("yxxf.zip")));
        if (!m_hadDownloads)
            QDir().rmdir(GetProgramDir() + QStringLiteral("Downloads"));
        m_env.reset();
    }

    // A forwarded link installs the pack; bad links stop at their message before any request.
    void forwardedLinksInstallOrAreRefused()
    {
        DEZIRUdu window;
        window.OnInitDialog();
        const QString base = QStringLiteral("VEDERU77://127.0.0.1:%1/packs/").arg(m_http.Port());
        m_http.Put("/packs/ui.zip", kPackUi);
        m_http.ClearLog();

        const struct
        {
            QString link;
            QString message;
        } refused[] = {
            {base + QStringLiteral("ui.zip&7"), QStringLiteral("参数错误2")},
            {base + QStringLiteral("ui.zip&2/"), QStringLiteral("参数错误")},
            {base + QStringLiteral("x\\..\\..\\evil.zip&2"), QStringLiteral("参数错误")},
            {QStringLiteral("VEDERU77://127.0.0.1/ui.zip"), QStringLiteral("参数错误")},
        };
        for (const auto& bad : refused) {
            widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
            window.OnCopyData(bad.link);
            QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList{bad.message});
        }
        QCOMPARE(m_http.Paths(), QStringList());

        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        window.OnCopyData(base + QStringLiteral("ui.zip&2"));
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList{kInstalled});
        QVERIFY(m_http.Paths().contains(QStringLiteral("/packs/ui.zip")));
        QCOMPARE(readFile(m_game + QStringLiteral("/rez/UI/readme.txt")), QByteArray("ui pack"));
        QCOMPARE(readFile(m_game + QStringLiteral("/rez/UI/skin/a.png")), QByteArray("png"));
        QCOMPARE(readFile(downloads(QStringLiteral("ui.zip"))), kPackUi);
        QCOMPARE(ReadIniString(config::GetConfigPath(), QStringLiteral("yxbjsetep"), QStringLiteral("yxbj"),
                               QStringLiteral("absent")),
                 QString());
        window.OnCancel();
    }

    // The repair button fetches yxxf.zip from the tool server and unpacks it over the game; a
    // failed repair download leaves no yxxf.zip behind, not even an older one.
    void repairButtonRepairsTheGame()
    {
        DEZIRUdu window;
        window.OnInitDialog();
        m_http.Put("/cftoolweb/yxxf.zip", kRepairArchive);
        m_http.ClearLog();

        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        window.OnRepair();
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList{kRepaired});
        QVERIFY(m_http.Paths().contains(QStringLiteral("/cftoolweb/yxxf.zip")));
        QCOMPARE(readFile(m_game + QStringLiteral("/readme.txt")), QByteArray("repaired"));
        QCOMPARE(readFile(m_game + QStringLiteral("/bin/game.dll")), QByteArray("dll"));
        QCOMPARE(readFile(m_game + QStringLiteral("/QQLogin.exe")), QByteArray("game"));
        QCOMPARE(readFile(downloads(QStringLiteral("yxxf.zip"))), kRepairArchive);

        m_http.Remove("/cftoolweb/yxxf.zip");
        QTimer closer;
        QStringList texts;
        connect(&closer, &QTimer::timeout, this, [&] {
            texts += widgets::msgbox::TakeAnsweredTexts();
            if (!texts.isEmpty())
                closeOpenInstallDialogs(); // in case it stayed open after the error
        });
        closer.start(20);
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        window.OnRepair(); // the dialog closes by itself after the message
        closer.stop();
        texts += widgets::msgbox::TakeAnsweredTexts();
        QCOMPARE(texts, QStringList{QStringLiteral("下载出错")});
        QVERIFY(!QFile::exists(downloads(QStringLiteral("yxxf.zip"))));
        QCOMPARE(readFile(m_game + QStringLiteral("/readme.txt")), QByteArray("repaired"));
        window.OnCancel();
    }
};

YFZS_TEST_CLASS(LinkFlowInProcessTest)

// The real program in a temporary program folder and home. The first instance shows its boxes
// on an X server of the test's own (Xvfb), where xdotool presses OK like a user would; later
// starts run offscreen, as they show nothing.
class LinkFlowProcessTest : public QObject
{
    Q_OBJECT

private:
    LoopbackHttpServer m_http;
    FakeServiceHost m_service{FakeServiceHost::Quiet()};
    QTemporaryDir m_root;
    QString m_game;
    QProcess m_xvfb;
    QString m_display; // ":N", empty without Xvfb or xdotool

    QProcessEnvironment environment(const QString& platform) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString home = m_root.filePath(QStringLiteral("home"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("WINEPREFIX"), home + QStringLiteral("/wine"));
        env.insert(QStringLiteral("QX77_HOST"), QStringLiteral("127.0.0.1"));
        env.insert(QStringLiteral("QX77_TOOL_PORT"), QString::number(m_http.Port()));
        env.insert(QStringLiteral("QX77_SERVICE_PORT"), QString::number(m_service.port()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        if (!m_display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), m_display);
        return env;
    }

    // A copy of the program in `folder` with a config.ini that names the fixture game.
    QString installProgram(const QString& folder) const
    {
        QDir().mkpath(folder);
        const QString exe = folder + QStringLiteral("/YFZS");
        QFile::remove(exe);
        if (!QFile::copy(QStringLiteral(YFZS_EXECUTABLE), exe))
            return {};
        QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);
        WriteIniString(folder + QStringLiteral("/config.ini"), QStringLiteral("CF Info"),
                       QStringLiteral("FOLDER"), m_game);
        return exe;
    }

    std::unique_ptr<QProcess> start(const QString& exe, const QStringList& args, const QString& platform,
                                    const QString& workDir = QStringLiteral("/"))
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(environment(platform));
        p->setWorkingDirectory(workDir);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(exe, args);
        p->waitForStarted();
        return p;
    }

    QString desktopEntry() const
    {
        return m_root.filePath(QStringLiteral("home/data/applications/yfzs-vederu77.desktop"));
    }

    QString registeredExec() const
    {
        for (const QByteArray& line : readFile(desktopEntry()).split('\n'))
            if (line.startsWith("Exec="))
                return QString::fromUtf8(line.mid(5));
        return {};
    }

    QStringList xdotool(const QStringList& args) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    // Windows of the message box (captioned with the program's name), on the test's X server.
    QStringList messageBoxes() const
    {
        return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                        QStringLiteral("^YFZS")});
    }

    void pressOk(const QString& window) const
    {
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    }

    // The Exec line that starts `exe` with a link: the path quoted as desktop entries quote
    // arguments, and "%" doubled, as a lone one would be read as a field code.
    static QString expectedExec(const QString& exe)
    {
        QString quoted;
        for (QChar c : exe) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        quoted.replace(u'\\', QStringLiteral("\\\\")); // the key's own escape level
        quoted.replace(u'%', QStringLiteral("%%"));
        return u'"' + quoted + QStringLiteral("\" %u");
    }

    QString link(const QString& name, const QString& type) const
    {
        return QStringLiteral("VEDERU77://127.0.0.1:%1/packs/%2&%3").arg(m_http.Port()).arg(name, type);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QVERIFY(m_http.Start());
        m_http.Put("/packs/ui.zip", kPackUi);
        m_http.Put("/packs/mark.zip", kPackMark);
        m_http.Put("/packs/rez.zip", kPackRez);
        m_game = m_root.filePath(QStringLiteral("game"));
        QVERIFY(writeFile(m_game + QStringLiteral("/QQLogin.exe"), "game"));
        QVERIFY(QDir().mkpath(m_game + QStringLiteral("/rez")));

        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            return;
        // -displayfd picks a free display and prints its number once the server is ready.
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                      QStringLiteral("tcp"), QStringLiteral("-noreset"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1024x768x24")});
        QVERIFY(waitUntil([this] { return m_xvfb.canReadLine() || m_xvfb.state() == QProcess::NotRunning; }));
        const QByteArray number = m_xvfb.readLine().trimmed();
        if (!number.isEmpty())
            m_display = u':' + QString::fromLatin1(number);
    }

    void cleanupTestCase() { StopProcess(m_xvfb); }

    // Each first start registers the program file it runs from; a moved copy re-registers itself,
    // whatever folder the desktop starts it in. Its new folder's "%" must not read as a field code.
    void movedProgramRewritesItsDesktopEntry()
    {
        const QString a = installProgram(m_root.filePath(QStringLiteral("first place")));
        const QString b = installProgram(m_root.filePath(QStringLiteral("moved/100% sure")));
        QVERIFY(!a.isEmpty() && !b.isEmpty());

        auto first = start(a, {}, QStringLiteral("offscreen"));
        QVERIFY(waitUntil([&] { return registeredExec() == expectedExec(a); }));
        StopProcess(*first);

        auto moved = start(b, {}, QStringLiteral("offscreen"));
        QVERIFY2(waitUntil([&] { return registeredExec() == expectedExec(b); }),
                 qPrintable(registeredExec()));
        const QByteArray entry = readFile(desktopEntry());
        QVERIFY(entry.contains("MimeType=x-scheme-handler/vederu77;\n"));
        QVERIFY(readFile(m_root.filePath(QStringLiteral("home/config/mimeapps.list")))
                    .contains("x-scheme-handler/vederu77=yfzs-vederu77.desktop;"));
        QVERIFY(moved->state() == QProcess::Running); // a start from "/" works as any other
        StopProcess(*moved);
    }

    // A link given to a second start reaches the running instance, which downloads, marks and
    // unpacks, and shows its success box; the second start ends only after that box is answered
    // and the dialog closed. Then the same through the desktop's own opener.
    void linkReachesTheRunningInstance()
    {
        if (m_display.isEmpty())
            QSKIP("needs Xvfb and xdotool to answer the running instance's message box");
        const QString program = m_root.filePath(QStringLiteral("program $1 at `home`"));
        const QString exe = installProgram(program);
        QVERIFY(!exe.isEmpty());
        QFile::remove(desktopEntry());
        auto first = start(exe, {}, QStringLiteral("xcb"));
        QVERIFY(waitUntil([&] { return registeredExec() == expectedExec(exe); }));

        const struct
        {
            QString name;
            QString type;
            QString file; // what the pack's file lands as
            QByteArray content;
            QString section, key;
            QByteArray archive;
        } packs[] = {
            {QStringLiteral("ui.zip"), QStringLiteral("2"), QStringLiteral("/rez/UI/readme.txt"), "ui pack",
             QStringLiteral("yxbjsetep"), QStringLiteral("yxbj"), kPackUi},
            {QStringLiteral("mark.zip"), QStringLiteral("1"), QStringLiteral("/rez/UI/Mark/mark.txt"),
             "mark pack", QStringLiteral("jstbsetep"), QStringLiteral("jstb"), kPackMark},
        };
        for (const auto& pack : packs) {
            auto second = start(exe, {link(pack.name, pack.type)}, QStringLiteral("offscreen"));
            QStringList boxes;
            QVERIFY(waitUntil([&] { return !(boxes = messageBoxes()).isEmpty(); }));
            // The work is done and the box waits; the second start is still held.
            QCOMPARE(readFile(m_game + pack.file), pack.content);
            QCOMPARE(readFile(program + QStringLiteral("/Downloads/") + pack.name), pack.archive);
            QCOMPARE(ReadIniString(program + QStringLiteral("/config.ini"), pack.section, pack.key,
                                   QStringLiteral("absent")),
                     QString());
            QCOMPARE(second->state(), QProcess::Running);

            pressOk(boxes.first());
            QVERIFY(waitUntil([&] { return second->state() == QProcess::NotRunning; }));
            QCOMPARE(second->exitStatus(), QProcess::NormalExit);
            QCOMPARE(second->exitCode(), 0);
            QVERIFY(messageBoxes().isEmpty());
        }

        // xdg-open hands the link to the registered entry. Its generic mode does not take scheme
        // names with digits for links, so it goes through the desktop's opener (gio) here. gio
        // checks an entry's program before reading "%%" as "%", hence no "%" in this folder's name.
        if (!QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()
            && !QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty()) {
            QProcess opener;
            QProcessEnvironment env = environment(QStringLiteral("offscreen"));
            env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
            opener.setProcessEnvironment(env);
            opener.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            opener.start(QStringLiteral("xdg-open"), {link(QStringLiteral("rez.zip"), QStringLiteral("3"))});
            QStringList boxes;
            QVERIFY(waitUntil([&] { return !(boxes = messageBoxes()).isEmpty(); }));
            QCOMPARE(readFile(m_game + QStringLiteral("/rez/rez.txt")), QByteArray("rez pack"));
            pressOk(boxes.first());
            QVERIFY(waitUntil([&] { return opener.state() == QProcess::NotRunning; }));
            QVERIFY(waitUntil([&] { return messageBoxes().isEmpty(); }));
        }
        QCOMPARE(first->state(), QProcess::Running);
        StopProcess(*first);
    }
};

YFZS_TEST_CLASS(LinkFlowProcessTest)
#include "linkflow_test.moc"
