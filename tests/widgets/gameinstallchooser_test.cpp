#include "testenv.h"
#include "testrunner.h"

#include "config/inifile.h"
#include "widgets/gamefolderbrowser.h"
#include "widgets/gameinstallchooser.h"
#include "widgets/messagebox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The game in two prefixes of a home: the chooser comes before the browser.
class GameInstallChooserTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    EnvGuard m_env;
    QString config() const { return m_dir.filePath(u"config.ini"_qs); }
    QString game(int n) const { return m_dir.filePath(u"home/Games/p%1/drive_c/CrossFire"_qs.arg(n)); }

    static void write(const QString& path, const QByteArray& data)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }

private slots:
    void initTestCase()
    {
        for (int n : {1, 2}) {
            write(game(n) + u"/QQLogin.exe"_qs, "MZ");
            write(m_dir.filePath(u"home/Games/p%1/system.reg"_qs.arg(n)), "WINE REGISTRY Version 2\n");
        }
        m_env.Set("HOME", m_dir.filePath(u"home"_qs).toUtf8());
        widgets::msgbox::TakeAnsweredTexts();
        widgets::TakeBrowsedTitles();
    }
    void init() { QFile::remove(config()); }

    void choosingAnInstallStoresIt()
    {
        widgets::SetNextInstallChoice(1);
        QVERIFY(BrowseGameFolder(nullptr, config::GameFolderVariant::Official, config()));
        QCOMPARE(ReadIniString(config(), u"CF Info"_qs, u"FOLDER"_qs, QString(), 260), game(2));
        QVERIFY(widgets::TakeBrowsedTitles().isEmpty()); // no folder browser
    }

    void browseLeadsToTheFolderBrowser()
    {
        widgets::SetNextInstallChoice(-1);
        widgets::SetNextBrowsedFolder(game(1));
        QVERIFY(BrowseGameFolder(nullptr, config::GameFolderVariant::TestServer, config()));
        QCOMPARE(widgets::TakeBrowsedTitles(), QStringList{u"请选择 穿越火线<体验服> 游戏目录："_qs});
        QCOMPARE(ReadIniString(config(), u"CF Info"_qs, u"FOLDER_TYF"_qs, QString(), 260), game(1));
    }

    void cancellingIsNothingChosen()
    {
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        widgets::SetNextInstallChoice(-2);
        QVERIFY(!BrowseGameFolder(nullptr, config::GameFolderVariant::MainWindow, config()));
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList{u"未指定游戏目录"_qs});
        QVERIFY(!QFile::exists(config()));
    }
};

YFZS_TEST_CLASS(GameInstallChooserTest)
#include "gameinstallchooser_test.moc"
