#include "appfixture.h"
#include "fakeservicehost.h"
#include "statusnotifierhost.h"
#include "testfiles.h"
#include "testrunner.h"

#include "app/desktopsession.h"
#include "config/inifile.h"
#include "config/settingskeys.h"
#include "widgets/gamefolderbrowser.h"
#include "widgets/messagebox.h"
#include "widgets/settingsdialog.h"
#include "widgets/trayavailability.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString kTitle = QStringLiteral("QX77 云帆助手");

QString withoutMnemonic(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    return text.remove(u'&');
}

// Qt's untranslated texts are English words; paths and "..." are not texts to translate.
bool looksEnglish(const QString& text)
{
    return text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2,}")));
}

// Runs `body` on the first modal dialog that opens, then closes it.
void onNextModal(std::function<void(QWidget*)> body)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, body] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        timer->deleteLater();
        body(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
    timer->start(20);
}

// A private X server, with or without a tray host, for the real executable.
class X11Desktop
{
public:
    ~X11Desktop()
    {
        for (QProcess* p : {&m_tray, &m_windowManager, &m_xvfb}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
        }
    }

    bool Start(bool withTray, bool withWindowManager = false)
    {
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset"),
                      QStringLiteral("-displayfd"), QStringLiteral("1")});
        if (!m_xvfb.waitForStarted() || !QTest::qWaitFor([this] { return m_xvfb.canReadLine(); }, 20000))
            return false;
        m_display = u':' + QString::fromLatin1(m_xvfb.readLine().trimmed());
        if (withWindowManager) {
            // Minimising needs a window manager: without one an X window cannot be iconified.
            m_windowManager.setProcessEnvironment(Environment());
            m_windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
            if (!m_windowManager.waitForStarted()
                || !QTest::qWaitFor(
                    [this] {
                        return Property(QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK"))
                            .contains(u"window id"_qs);
                    },
                    20000))
                return false;
        }
        if (!withTray)
            return true;
        m_tray.setProcessEnvironment(Environment());
        m_tray.start(QStringLiteral("trayer"), {QStringLiteral("--SetDockType"), QStringLiteral("false")});
        return m_tray.waitForStarted()
            && QTest::qWaitFor(
                   [this] {
                       return !Run(QStringLiteral("xdotool"),
                                   {QStringLiteral("search"), QStringLiteral("--class"),
                                    QStringLiteral("trayer")})
                                   .isEmpty();
                   },
                   20000);
    }

    // The tray host goes away, as when a panel is closed or crashes.
    void StopTray()
    {
        m_tray.kill();
        m_tray.waitForFinished();
    }

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        return env;
    }

    // A helper's standard output, trimmed; empty when it failed.
    QString Run(const QString& program, const QStringList& args, bool* ok = nullptr) const
    {
        QProcess p;
        p.setProcessEnvironment(Environment());
        p.start(program, args);
        const bool done = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit
            && p.exitCode() == 0;
        if (ok)
            *ok = done;
        return done ? QString::fromUtf8(p.readAllStandardOutput()).trimmed() : QString();
    }

    // The first window whose name is exactly `name` (no regular-expression characters in it),
    // waiting up to 60 s for it to be mapped.
    QString FindWindow(const QString& name) const
    {
        QString id;
        (void)QTest::qWaitFor(
            [&] {
                id = Run(QStringLiteral("xdotool"),
                         {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                          u'^' + name + u'$'})
                         .section(u'\n', 0, 0);
                return !id.isEmpty();
            },
            60000);
        return id;
    }

    QString Property(const QString& window, const QString& name) const
    {
        if (window == QLatin1String("-root"))
            return Run(QStringLiteral("xprop"), {window, name});
        return Run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, name});
    }

    // Mapped, and neither iconified nor hidden as far as the window manager says.
    bool IsShownNormally(const QString& window) const
    {
        return IsViewable(window) && !Property(window, QStringLiteral("_NET_WM_STATE")).contains(u"HIDDEN"_qs)
            && Run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("WM_STATE")})
                   .contains(u"Normal"_qs);
    }

    QPoint Position(const QString& window) const
    {
        const QString info = Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
        static const QRegularExpression x(QStringLiteral("Absolute upper-left X:\\s+(-?\\d+)"));
        static const QRegularExpression y(QStringLiteral("Absolute upper-left Y:\\s+(-?\\d+)"));
        return {x.match(info).captured(1).toInt(), y.match(info).captured(1).toInt()};
    }

    bool IsViewable(const QString& window) const
    {
        return Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window})
            .contains(u"Map State: IsViewable"_qs);
    }

    // Top-level windows, bottom first: the order X stacks them in.
    QStringList Stacking() const
    {
        QStringList ids;
        const QString tree = Run(QStringLiteral("xwininfo"),
                                 {QStringLiteral("-root"), QStringLiteral("-children")});
        static const QRegularExpression child(QStringLiteral("^\\s+(0x[0-9a-f]+)"),
                                              QRegularExpression::MultilineOption);
        for (auto it = child.globalMatch(tree); it.hasNext();)
            ids.prepend(it.next().captured(1));
        return ids; // xwininfo lists the top first
    }

private:
    QProcess m_xvfb;
    QProcess m_windowManager;
    QProcess m_tray;
    QString m_display;
};

int windowNumber(const QString& id)
{
    return id.toInt(nullptr, id.startsWith(u"0x"_qs) ? 16 : 10);
}

} // namespace

// The program as the desktop meets it: Qt's own texts in Chinese, the folder browser's start,
// captions and window class as the window manager sees them, and the close button and a later
// start with and without a tray, all with the real executable under a private X server.
class DesktopTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    FakeServiceHost m_service{FakeServiceHost::Quiet()};
    quint16 m_closedPort = 0;
    QString m_exe;
    QProcessEnvironment m_extraEnv; // for the next starts: a launcher's token, a session bus

    std::unique_ptr<QProcess> start(const X11Desktop& desktop, const QStringList& args = {},
                                    quint16 servicePort = 0)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = desktop.Environment();
        env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("QX77_HOST"), QStringLiteral("127.0.0.1"));
        env.insert(QStringLiteral("QX77_SERVICE_PORT"),
                   QString::number(servicePort ? servicePort : m_service.port()));
        // Nothing listens there: the program shows its own offline page, which is all these
        // cases need of the body.
        env.insert(QStringLiteral("QX77_TOOL_PORT"), QString::number(m_closedPort));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        env.insert(m_extraEnv);
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(m_exe, args);
        p->waitForStarted();
        return p;
    }

    void useConfig(const QByteArray& content)
    {
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("program/config.ini")), content));
    }

    // Closes the main window with its own close button, as the user does.
    static void clickClose(const X11Desktop& desktop, const QString& window)
    {
        bool ok = false;
        desktop.Run(QStringLiteral("xdotool"),
                    {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("788"),
                     QStringLiteral("20"), QStringLiteral("click"), QStringLiteral("1")},
                    &ok);
        QVERIFY(ok);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_closedPort = FakeServiceHost::closedPort();
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("program")));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("home")));
        m_exe = m_dir.filePath(QStringLiteral("program/YFZS"));
        QVERIFY(QFile::copy(QStringLiteral(YFZS_EXECUTABLE), m_exe));
        QFile::setPermissions(m_exe, QFile::permissions(m_exe) | QFile::ExeOwner);
    }

    void qtTextsAreChinese()
    {
        SetUpDesktopSession(*qApp);
        QStringList texts;
        auto buttonTexts = [&texts](QWidget* modal) {
            for (QAbstractButton* b : modal->findChildren<QAbstractButton*>())
                texts << withoutMnemonic(b->text());
        };
        onNextModal(buttonTexts);
        widgets::msgbox::Show(QStringLiteral("测试"), widgets::msgbox::YesNo);
        onNextModal(buttonTexts);
        widgets::msgbox::Show(QStringLiteral("测试"), widgets::msgbox::OkCancel);
        texts.sort();
        QStringList expected{u"是"_qs, u"否"_qs, u"确定"_qs, u"取消"_qs};
        expected.sort();
        QCOMPARE(texts, expected);

        // The folder browser: Chinese throughout, opening in the game folder set for its variant.
        QTemporaryDir game;
        const QString config = m_dir.filePath(QStringLiteral("browser.ini"));
        QVERIFY(WriteIniString(config, config::keys::kCfInfo, config::keys::kFolder, game.path()));
        QString start;
        QStringList english;
        onNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            start = dialog->directory().absolutePath();
            QList<QWidget*> shown;
            for (QLabel* l : dialog->findChildren<QLabel*>())
                if (l->isVisibleTo(dialog) && !l->text().isEmpty())
                    shown << l;
            for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
                if (b->isVisibleTo(dialog) && !b->text().isEmpty())
                    shown << b;
            for (QWidget* w : shown) {
                const QString text = w->property("text").toString();
                if (looksEnglish(text))
                    english << text;
            }
        });
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok); // "nothing chosen"
        QVERIFY(!BrowseGameFolder(nullptr, config::GameFolderVariant::Official, config));
        QCOMPARE(start, QDir(game.path()).absolutePath());
        QCOMPARE(english, QStringList());
    }

    void browserStartsNearTheGame()
    {
        QTemporaryDir prefix;
        EnvGuard env;
        env.Set("WINEPREFIX", QFile::encodeName(prefix.path()));
        env.Set("HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("home"))));
        const QString config = m_dir.filePath(QStringLiteral("start.ini"));
        const QString home = QDir::homePath();
        QCOMPARE(widgets::GameFolderBrowserStart(config::GameFolderVariant::Official, config), home);
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("drive_c")));
        QCOMPARE(widgets::GameFolderBrowserStart(config::GameFolderVariant::Official, config),
                 prefix.path() + u"/drive_c"_qs);
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("drive_c/Program Files")));
        QCOMPARE(widgets::GameFolderBrowserStart(config::GameFolderVariant::Official, config),
                 prefix.path() + u"/drive_c/Program Files"_qs);
        // A stored folder that is gone counts as none; the test server's key is its own.
        QVERIFY(WriteIniString(config, config::keys::kCfInfo, config::keys::kFolder,
                               prefix.path() + u"/missing"_qs));
        QVERIFY(WriteIniString(config, config::keys::kCfInfo, config::keys::kFolderTyf, prefix.path()));
        QCOMPARE(widgets::GameFolderBrowserStart(config::GameFolderVariant::Official, config),
                 prefix.path() + u"/drive_c/Program Files"_qs);
        QCOMPARE(widgets::GameFolderBrowserStart(config::GameFolderVariant::TestServer, config),
                 prefix.path());
    }

    void settingsSayWhyHidingDoesNothingWithoutTray()
    {
        const QString config = m_dir.filePath(QStringLiteral("settings.ini"));
        for (bool tray : {false, true}) {
            widgets::SetSystemTrayAvailableForTest(tray);
            CDialogSet dialog(nullptr, config);
            auto* note = dialog.findChild<QLabel*>(QStringLiteral("noTrayNote"));
            if (tray) {
                QVERIFY(!note);
                continue;
            }
            QVERIFY(note);
            QCOMPARE(note->text(), widgets::NoTrayExplanation());
            // Inside the dialog, clear of the two radio buttons' labels.
            QVERIFY(dialog.rect().contains(note->geometry()));
            for (QLabel* label : dialog.findChildren<QLabel*>())
                if (label != note && (label->text() == u"退出程序"_qs || label->text() == u"隐藏到托盘"_qs))
                    QVERIFY(!label->geometry().intersects(note->geometry()));
        }
        widgets::SetSystemTrayAvailableForTest(std::nullopt);
    }

    void captionsAndClassAsTheDesktopSeesThem()
    {
        X11Desktop desktop;
        QVERIFY(desktop.Start(false));
        useConfig("[system]\r\nexit=0\r\n");
        // No service host: the start-up check's message box comes up over the main window.
        auto program = start(desktop, {}, m_closedPort);
        const QString main = desktop.FindWindow(kTitle);
        QVERIFY(!main.isEmpty());
        QVERIFY2(desktop.Property(main, QStringLiteral("WM_NAME")).endsWith(u"= \"QX77 云帆助手\""_qs),
                 qPrintable(desktop.Property(main, QStringLiteral("WM_NAME"))));
        QCOMPARE(desktop.Property(main, QStringLiteral("WM_CLASS")),
                 u"WM_CLASS(STRING) = \"YFZS\", \"YFZS\""_qs);
        const QString box = desktop.FindWindow(QStringLiteral("YFZS"));
        QVERIFY(!box.isEmpty());
        QVERIFY2(desktop.Property(box, QStringLiteral("WM_NAME")).endsWith(u"= \"YFZS\""_qs),
                 qPrintable(desktop.Property(box, QStringLiteral("WM_NAME"))));
        StopProcess(*program);

        // The launcher entry names the same class and is called after it.
        const QByteArray entry = readFile(QStringLiteral(YFZS_SOURCE_DIR "/packaging/YFZS.desktop"));
        QVERIFY(entry.contains("\nStartupWMClass=YFZS\n"));
        QVERIFY(entry.contains("\nMimeType=x-scheme-handler/vederu77;\n"));
    }

    void withoutTrayCloseMinimisesAndALaterStartRaises()
    {
        X11Desktop desktop;
        QVERIFY(desktop.Start(false));
        useConfig("[system]\r\nexit=1\r\n");
        auto program = start(desktop);
        const QString main = desktop.FindWindow(kTitle);
        QVERIFY(!main.isEmpty());
        clickClose(desktop, main);
        QTest::qWait(1000);
        // Still there for the taskbar, not hidden where nothing could reach it.
        QVERIFY(desktop.IsViewable(main));
        QVERIFY(program->state() == QProcess::Running);

        // Another window on top; a later start brings ours back over it.
        QProcess cover;
        cover.setProcessEnvironment(desktop.Environment());
        cover.start(QStringLiteral("xlogo"), {QStringLiteral("-geometry"), QStringLiteral("1024x768+0+0")});
        QVERIFY(cover.waitForStarted());
        const QString coverId = desktop.FindWindow(QStringLiteral("xlogo"));
        QVERIFY(!coverId.isEmpty());
        auto above = [&] {
            QList<int> order;
            for (const QString& id : desktop.Stacking())
                order << windowNumber(id);
            return order.indexOf(windowNumber(main)) > order.indexOf(windowNumber(coverId));
        };
        QVERIFY(!above());
        auto second = start(desktop);
        QVERIFY(second->waitForFinished(60000));
        QTRY_VERIFY_WITH_TIMEOUT(above(), 10000);
        StopProcess(cover);
        StopProcess(*program);
    }

    // From the taskbar and from the tray, a later start brings the window back where the user
    // left it, with the launcher's startup id handed over.
    void laterStartRestoresMinimisedAndTrayHidden()
    {
        X11Desktop desktop;
        QVERIFY(desktop.Start(true, true));
        useConfig("[system]\r\nexit=1\r\n");
        auto program = start(desktop);
        const QString main = desktop.FindWindow(kTitle);
        QVERIFY(!main.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(desktop.IsShownNormally(main), 20000);
        bool ok = false;
        desktop.Run(QStringLiteral("xdotool"),
                    {QStringLiteral("windowmove"), main, QStringLiteral("123"), QStringLiteral("77")}, &ok);
        QVERIFY(ok);
        QTRY_COMPARE_WITH_TIMEOUT(desktop.Position(main), QPoint(123, 77), 10000);

        m_extraEnv.insert(QStringLiteral("DESKTOP_STARTUP_ID"), QStringLiteral("launcher-7_TIME0"));
        auto laterStart = [&] {
            auto later = start(desktop);
            QVERIFY(later->waitForFinished(60000));
            QTRY_VERIFY_WITH_TIMEOUT(desktop.IsShownNormally(main), 10000);
            QCOMPARE(desktop.Position(main), QPoint(123, 77));
        };

        // Minimised with its own button.
        desktop.Run(QStringLiteral("xdotool"),
                    {QStringLiteral("mousemove"), QStringLiteral("--window"), main, QStringLiteral("766"),
                     QStringLiteral("20"), QStringLiteral("click"), QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(!desktop.IsViewable(main), 10000);
        laterStart();
        QVERIFY(desktop.Property(main, QStringLiteral("_NET_STARTUP_ID")).contains(u"launcher-7_TIME0"_qs));

        // Hidden to the tray.
        clickClose(desktop, main);
        QTRY_VERIFY_WITH_TIMEOUT(!desktop.IsViewable(main), 10000);
        laterStart();
        m_extraEnv.clear();
        QVERIFY(program->state() == QProcess::Running);
        StopProcess(*program);
    }

    // Where a StatusNotifier host shows the icon (KDE, GNOME with AppIndicator), the menu goes
    // to it over D-Bus and a click on the item toggles the window.
    void trayMenuReachesAStatusNotifierHost()
    {
        StatusNotifierHost host;
        QVERIFY(host.Start());
        X11Desktop desktop;
        QVERIFY(desktop.Start(false));
        useConfig("[system]\r\nexit=1\r\n");
        m_extraEnv.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), host.Address());
        auto program = start(desktop);
        m_extraEnv.clear();
        const QString main = desktop.FindWindow(kTitle);
        QVERIFY(!main.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!host.RegisteredStatusNotifierItems().isEmpty(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(host.MenuLabels(), (QStringList{u"隐藏窗口"_qs, u"关于"_qs, u"退出"_qs}),
                                  10000);

        QVERIFY(host.Activate());
        QTRY_VERIFY_WITH_TIMEOUT(!desktop.IsViewable(main), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(host.MenuLabels().value(0), u"显示窗口"_qs, 10000);
        QVERIFY(host.Activate());
        QTRY_VERIFY_WITH_TIMEOUT(desktop.IsViewable(main), 10000);
        StopProcess(*program);
    }
};

YFZS_TEST_CLASS(DesktopTest)
#include "desktop_test.moc"
