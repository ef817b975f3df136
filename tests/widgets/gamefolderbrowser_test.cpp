#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "config/inifile.h"
#include "widgets/gamefolderbrowser.h"
#include "widgets/messagebox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(config::GameFolderVariant)

class GameFolderBrowserTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString config() const { return m_dir.filePath(u"config.ini"_qs); }
    QString game() const { return m_dir.filePath(u"游戏/CF"_qs); }
    QString plain() const { return m_dir.filePath(u"plain"_qs); }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(game()));
        QVERIFY(QDir().mkpath(plain()));
        QFile marker(game() + u"/QQLogin.exe"_qs);
        QVERIFY(marker.open(QIODevice::WriteOnly));
        widgets::msgbox::TakeAnsweredTexts();
        widgets::TakeBrowsedTitles();
    }

    void variants_data()
    {
        QTest::addColumn<config::GameFolderVariant>("variant");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("nothingChosen");
        QTest::addColumn<QString>("markerMissing");
        const QString officialTitle = u"请选择 穿越火线<官方服> 目录："_qs;
        const QString officialNone = u"未指定<官方服>目录。"_qs;
        const QString officialMissing = u"没有找到QQLogin.exe，非 穿越火线<官方服> 游戏目录。"_qs;
        const QString testTitle = u"请选择 穿越火线<体验服> 游戏目录："_qs;
        const QString testNone = u"未指定<体验服>目录。"_qs;
        const QString testMissing = u"没有找到QQLogin.exe，非 穿越火线<体验服> 游戏目录。"_qs;
        QTest::newRow("main window") << config::GameFolderVariant::MainWindow << u"FOLDER"_qs
                                     << u"请选择 穿越火线(CrossFire) 安装目录："_qs << u"未指定游戏目录"_qs
                                     << u"非 穿越火线(CrossFire) 安装目录"_qs;
        QTest::newRow("official") << config::GameFolderVariant::Official << u"FOLDER"_qs << officialTitle
                                  << officialNone << officialMissing;
        QTest::newRow("test server") << config::GameFolderVariant::TestServer << u"FOLDER_TYF"_qs << testTitle
                                     << testNone << testMissing;
        QTest::newRow("settings official") << config::GameFolderVariant::SettingsOfficial << u"FOLDER"_qs
                                           << officialTitle << officialNone << officialMissing;
        QTest::newRow("settings test") << config::GameFolderVariant::SettingsTestServer << u"FOLDER_TYF"_qs
                                       << testTitle << testNone << testMissing;
    }

    void variants()
    {
        QFETCH(config::GameFolderVariant, variant);
        QFETCH(QString, key);
        QFETCH(QString, title);
        QFETCH(QString, nothingChosen);
        QFETCH(QString, markerMissing);
        QFile::remove(config());
        QString chosen = u"unset"_qs;

        // Cancelled, then a folder without the marker: one message each, nothing written.
        widgets::SetNextBrowsedFolder(QString());
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        QVERIFY(!BrowseGameFolder(nullptr, variant, config(), &chosen));
        QVERIFY(chosen.isEmpty());
        widgets::SetNextBrowsedFolder(plain());
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        QVERIFY(!BrowseGameFolder(nullptr, variant, config(), &chosen));
        QCOMPARE(chosen, plain());
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList({nothingChosen, markerMissing}));
        QVERIFY(!QFile::exists(config()));

        // With the marker: stored under the variant's key, no message.
        widgets::SetNextBrowsedFolder(game());
        QVERIFY(BrowseGameFolder(nullptr, variant, config(), &chosen));
        QCOMPARE(chosen, game());
        QCOMPARE(ReadIniString(config(), u"CF Info"_qs, key), game());
        QVERIFY(widgets::msgbox::TakeAnsweredTexts().isEmpty());
        QCOMPARE(widgets::TakeBrowsedTitles(), QStringList({title, title, title}));
    }

    void failedWriteNamesTheFile()
    {
        const QString blocked = m_dir.filePath(u"blocked/config.ini"_qs);
        QVERIFY(QDir().mkpath(blocked)); // a folder where the file should be
        widgets::SetNextBrowsedFolder(game());
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        QVERIFY(!BrowseGameFolder(nullptr, config::GameFolderVariant::TestServer, blocked));
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList({blocked + u"错误"_qs}));
        widgets::TakeBrowsedTitles();
    }

    void resolveAsksWithTheMainWindowVariant()
    {
        QFile::remove(config());
        EnvGuard env;
        env.Set("WINEPREFIX", m_dir.filePath(u"no prefix"_qs).toUtf8());
        auto resolve = [this] {
            return ResolveGameFolder(
                [this] { return BrowseGameFolder(nullptr, config::GameFolderVariant::MainWindow, config()); },
                config());
        };

        widgets::SetNextBrowsedFolder(QString());
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        config::ResolvedGameFolder found = resolve();
        QVERIFY(!found.goOn);
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList({u"未指定游戏目录"_qs}));

        widgets::SetNextBrowsedFolder(game());
        found = resolve();
        QVERIFY(found.goOn);
        QCOMPARE(found.folder, game());
        // Remembered: the next resolve does not ask (an unanswered browser would show).
        QCOMPARE(resolve().folder, game());
        QCOMPARE(widgets::TakeBrowsedTitles(), QStringList(2, u"请选择 穿越火线(CrossFire) 安装目录："_qs));
        QCOMPARE(readFile(config()).count("FOLDER="), 1);
    }
};

YFZS_TEST_CLASS(GameFolderBrowserTest)
#include "gamefolderbrowser_test.moc"
