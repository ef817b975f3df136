// The whole product on one machine: the real main window (offscreen, in this process) showing
// the real tool page served by the real qx77-server, which also answers the login button.

#include "app/mainwindow.h"
#include "pagehost/htmlctrl.h"

#include "appfixture.h"
#include "config/inifile.h"
#include "config/programdir.h"
#include "config/settingskeys.h"
#include "testfiles.h"
#include "testrunner.h"
#include "toolpagefixture.h"
#include "widgets/messagebox.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>

namespace {

// Every file below `root`, relative, sorted.
QStringList filesBelow(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(root).relativeFilePath(it.next()));
    files.sort();
    return files;
}

QString configValue(QLatin1String section, QLatin1String key)
{
    return ReadIniString(config::GetConfigPath(), section, key, QStringLiteral("<missing>"), 260);
}

const QString kRedMarks = QStringLiteral("红点准星");
const QString kBlueSkin = QStringLiteral("蓝色经典界面");
const QString kClearRes = QStringLiteral("清晰地图资源包");
const QStringList kPackFiles = {QStringLiteral("mark_red.zip"), QStringLiteral("mark_green.zip"),
                                QStringLiteral("skin_blue.zip"), QStringLiteral("res_clear.zip")};

} // namespace

class ToolPageTest : public QObject
{
    Q_OBJECT

private:
    DemoServer m_server;

    QString DataDir() const { return m_server.DataDir(); }
    QString GameDir() const { return m_server.GameDir(); }

    void RemoveDownloads()
    {
        for (const QString& file : kPackFiles)
            QFile::remove(DownloadPath(file));
    }

    static bool WriteConfig(const QString& gameDir) { return WriteStartConfig(gameDir); }
    static std::unique_ptr<DEZIRUdu> MakeWindow() { return MakeToolPageWindow(4); }
    // Types into the account and then the password box, each once it has the focus, as a user does.
    static bool TypeLogin(DEZIRUdu& window, const QString& account, const QString& password)
    {
        const std::pair<int, QString> boxes[] = {{DEZIRUdu::IdAccount, account},
                                                 {DEZIRUdu::IdPassword, password}};
        for (const auto& [id, text] : boxes) {
            auto* box = qobject_cast<QLineEdit*>(window.GetDlgItem(id));
            box->setFocus();
            if (!QTest::qWaitFor([box] { return box->hasFocus(); }))
                return false;
            QTest::keyClicks(box, text);
        }
        return true;
    }

private slots:
    void initTestCase() { QVERIFY(m_server.Start()); }

    void cleanupTestCase() { QVERIFY(m_server.Stop()); }

    // The page lists the catalogue; three packs, one of each kind, download side by side
    // through the page and install into their kinds' folders under the game folder.
    void packsDownloadAndInstallThroughThePage()
    {
        FileGuard config(config::GetConfigPath());
        FileGuard pageState(GetProgramDir() + QStringLiteral("toolpage.ini"));
        RemoveDownloads();
        QVERIFY(WriteConfig(GameDir()));

        auto window = MakeWindow();
        QWebEnginePage* page = window->BrowserView()->page();
        QStringList names{kRedMarks, QStringLiteral("绿色十字准星"), kBlueSkin, kClearRes};
        names.sort(); // code-unit order, as the page's sort()
        QCOMPARE(RunJs(page,
                       QStringLiteral("[...document.querySelectorAll('#packs .pack .name')]"
                                      ".map(e => e.textContent).sort().join('|')"))
                     .toString(),
                 names.join(u'|'));
        QCOMPARE(RunJs(page, QStringLiteral("document.getElementById('status').textContent")).toString(),
                 QStringLiteral("共 4 个资源"));
        QCOMPARE(RunJs(page, QStringLiteral("document.getElementById('gamedir').textContent")).toString(),
                 GameDir());
        QCOMPARE(
            RunJs(page, OnCard(kRedMarks, QStringLiteral("c.querySelector('.kind').textContent"))).toString(),
            QStringLiteral("准星"));
        QCOMPARE(
            RunJs(page, OnCard(kBlueSkin, QStringLiteral("c.querySelector('.kind').textContent"))).toString(),
            QStringLiteral("界面"));
        // Previews come from the server and are real pictures.
        QTRY_COMPARE_WITH_TIMEOUT(
            RunJs(page, OnCard(kClearRes, QStringLiteral("c.querySelector('.preview').naturalWidth")))
                .toInt(),
            96, kPageTimeoutMs);

        for (const QString& name : {kRedMarks, kBlueSkin, kClearRes})
            Click(page, name, "download");
        for (const QString& name : {kRedMarks, kBlueSkin, kClearRes})
            QTRY_COMPARE_WITH_TIMEOUT(CardState(page, name), QStringLiteral("已下载"), kPageTimeoutMs);
        for (const QString& file : {QStringLiteral("mark_red.zip"), QStringLiteral("skin_blue.zip"),
                                    QStringLiteral("res_clear.zip")}) {
            const QByteArray served = readFile(DataDir() + QStringLiteral("/packs/") + file);
            QVERIFY(!served.isEmpty());
            QCOMPARE(readFile(DownloadPath(file)), served);
        }
        QVERIFY(!QFileInfo::exists(DownloadPath(QStringLiteral("mark_green.zip"))));
        QCOMPARE(
            RunJs(page, OnCard(kRedMarks, QStringLiteral("c.querySelector('.install').hidden"))).toBool(),
            false);

        for (const QString& name : {kRedMarks, kBlueSkin, kClearRes}) {
            Click(page, name, "install");
            QTRY_COMPARE_WITH_TIMEOUT(CardState(page, name), QStringLiteral("已安装"), kPageTimeoutMs);
        }
        QCOMPARE(filesBelow(GameDir()),
                 QStringList(
                     {QStringLiteral("QQLogin.exe"), QStringLiteral("rez/Sound/footstep.txt"),
                      QStringLiteral("rez/Texture/wall.png"), QStringLiteral("rez/UI/Lobby/background.png"),
                      QStringLiteral("rez/UI/Lobby/button.png"), QStringLiteral("rez/UI/Mark/Mark_01.png"),
                      QStringLiteral("rez/UI/Mark/Mark_02.png"), QStringLiteral("rez/UI/Mark/readme.txt"),
                      QStringLiteral("rez/UI/skin.txt"), QStringLiteral("rez/pack.txt")}));
        QCOMPARE(QImage(GameDir() + QStringLiteral("/rez/UI/Mark/Mark_01.png")).size(), QSize(64, 64));
        QCOMPARE(readFile(GameDir() + QStringLiteral("/rez/Sound/footstep.txt")),
                 QByteArray("footstep volume +20%\r\n"));

        // After a reload the page still knows what is installed.
        QSignalSpy reloaded(window->BrowserView(), &QWebEngineView::loadFinished);
        window->BrowserView()->Refresh();
        QVERIFY(reloaded.wait(kPageTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(CardState(page, kRedMarks), QStringLiteral("已安装"), kPageTimeoutMs);
        QCOMPARE(CardState(page, QStringLiteral("绿色十字准星")), QString());

        window->OnCancel();
        window.reset();
        RemoveDownloads();
    }

    // The login button logs in with the typed account at the real service host; the window
    // and, after its reload, the page show the user.
    void loginShowsTheUser()
    {
        FileGuard config(config::GetConfigPath());
        QVERIFY(WriteConfig(QString()));
        auto window = MakeWindow();
        QWebEnginePage* page = window->BrowserView()->page();
        QCOMPARE(RunJs(page, QStringLiteral("document.getElementById('account').textContent")).toString(),
                 QStringLiteral("未登陆，请在右上方登陆QX77通行证"));

        auto* account = qobject_cast<QLineEdit*>(window->GetDlgItem(DEZIRUdu::IdAccount));
        auto* welcome = qobject_cast<QLabel*>(window->GetDlgItem(DEZIRUdu::IdWelcome));
        QVERIFY(TypeLogin(*window, QStringLiteral("demo"), QStringLiteral("demo123")));
        QSignalSpy reloaded(window->BrowserView(), &QWebEngineView::loadFinished);
        QTest::mouseClick(window->GetDlgItem(DEZIRUdu::IdLogin), Qt::LeftButton, {}, QPoint(20, 20));

        QTRY_VERIFY_WITH_TIMEOUT(welcome->isVisible(), kPageTimeoutMs);
        QCOMPARE(welcome->text(), QStringLiteral("欢迎你：demo"));
        QVERIFY(!window->GetDlgItem(DEZIRUdu::IdLogin)->isVisible());
        QVERIFY(!account->isVisible());
        QVERIFY(window->GetDlgItem(DEZIRUdu::IdLogout)->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(configValue(config::keys::kSystem, config::keys::kIsLogin),
                                  QStringLiteral("1"), kPageTimeoutMs);
        QCOMPARE(configValue(config::keys::kSystem, config::keys::kUid), QStringLiteral("demo"));

        QVERIFY(reloaded.wait(kPageTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(
            RunJs(page, QStringLiteral("document.getElementById('account').textContent")).toString(),
            QStringLiteral("欢迎你：demo"), kPageTimeoutMs);
        QVERIFY(widgets::msgbox::TakeAnsweredTexts().isEmpty());
        window->OnCancel();
    }

    void wrongPasswordIsRefused()
    {
        FileGuard config(config::GetConfigPath());
        QVERIFY(WriteConfig(QString()));
        widgets::msgbox::TakeAnsweredTexts();
        auto window = MakeWindow();
        QVERIFY(TypeLogin(*window, QStringLiteral("demo"), QStringLiteral("demo124")));
        QSignalSpy reloaded(window->BrowserView(), &QWebEngineView::loadFinished);

        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        QTest::mouseClick(window->GetDlgItem(DEZIRUdu::IdLogin), Qt::LeftButton, {}, QPoint(20, 20));
        QStringList texts;
        QTRY_VERIFY_WITH_TIMEOUT((texts += widgets::msgbox::TakeAnsweredTexts(), !texts.isEmpty()),
                                 kPageTimeoutMs);
        QCOMPARE(texts, QStringList{QStringLiteral("登陆失败，用户名或密码错误!")});
        QTRY_COMPARE_WITH_TIMEOUT(configValue(config::keys::kSystem, config::keys::kIsLogin),
                                  QStringLiteral("0"), kPageTimeoutMs);
        QCOMPARE(configValue(config::keys::kSystem, config::keys::kUid), QString());

        // The attempt ends with the usual reload; the login area stays as it was.
        QVERIFY(reloaded.wait(kPageTimeoutMs));
        QVERIFY(!window->GetDlgItem(DEZIRUdu::IdWelcome)->isVisible());
        QVERIFY(window->GetDlgItem(DEZIRUdu::IdLogin)->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(RunJs(window->BrowserView()->page(),
                                        QStringLiteral("document.getElementById('account').textContent"))
                                      .toString(),
                                  QStringLiteral("未登陆，请在右上方登陆QX77通行证"), kPageTimeoutMs);
        window->OnCancel();
    }

    // The game in a Wine prefix of its own and nothing in config.ini: the page shows the found
    // folder and 启动游戏 starts it in that prefix and its folder, with no chooser.
    void foundGameIsShownAndStarted()
    {
        FileGuard config(config::GetConfigPath());
        QVERIFY(WriteConfig(QString()));
        QTemporaryDir root;
        const QString home = root.filePath(QStringLiteral("home"));
        const QString prefix = home + QStringLiteral("/Games/cf");
        const QString game = prefix + QStringLiteral("/drive_c/CrossFire");
        QVERIFY(writeFile(prefix + QStringLiteral("/system.reg"), "WINE REGISTRY Version 2\n"));
        QVERIFY(writeFile(game + QStringLiteral("/QQLogin.exe"), "MZ"));
        const QString wine = root.filePath(QStringLiteral("bin/wine"));
        const QString log = root.filePath(QStringLiteral("wine.log"));
        QVERIFY(writeFile(
            wine, "#!/bin/sh\n{ echo \"$WINEPREFIX\"; pwd; echo \"$1\"; } > \"$YFZS_WINE_LOG\"\nsleep 1\n"));
        QVERIFY(QFile::setPermissions(wine, QFile::permissions(wine) | QFile::ExeOwner));
        EnvGuard env;
        env.Set("HOME", QFile::encodeName(home));
        env.Set("WINEPREFIX", QFile::encodeName(root.filePath(QStringLiteral("default"))));
        env.Set("PATH", QFile::encodeName(root.filePath(QStringLiteral("bin"))) + ':' + qgetenv("PATH"));
        env.Set("YFZS_WINE_LOG", QFile::encodeName(log));

        auto window = MakeMainWindow();
        QWebEnginePage* page = PageOf(*window);
        QTRY_COMPARE_WITH_TIMEOUT(
            RunJs(page, QStringLiteral("document.getElementById('gamedir').textContent")).toString(), game,
            kPageTimeoutMs);
        RunJs(page, QStringLiteral("document.getElementById('rungame').click(); 0"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), kPageTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readFile(log)).split(u'\n', Qt::SkipEmptyParts).size(), 3,
                                  kPageTimeoutMs);
        QCOMPARE(QString::fromUtf8(readFile(log)).split(u'\n', Qt::SkipEmptyParts),
                 (QStringList{prefix, game, game + QStringLiteral("/QQLogin.exe")}));
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList());
        QCOMPARE(configValue(config::keys::kCfInfo, config::keys::kFolder), QStringLiteral("<missing>"));
    }
};

YFZS_TEST_CLASS(ToolPageTest)
#include "toolpage_test.moc"
