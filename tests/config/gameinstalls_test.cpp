#include "config/gameinstalls.h"
#include "config/locator.h"

#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using platform::PrefixKind;

// The game in several prefixes at once: what is found, and what resolving does with it.
class GameInstallsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<EnvGuard> m_env;

    QString home() const { return m_dir.path() + u"/home"_qs; }
    // A prefix with drive C: and, when given, the game's InstallPath in its registry.
    QString makeWinePrefix(const QString& path, const QByteArray& installPath = {}, bool wow64 = false)
    {
        QByteArray reg = "WINE REGISTRY Version 2\n";
        if (!installPath.isEmpty())
            reg += "\n[Software\\\\" + QByteArray(wow64 ? "Wow6432Node\\\\" : "")
                + "Tencent\\\\CrossFire] 1700000000\n" + "\"InstallPath\"=\"" + installPath + "\"\n";
        writeFile(path + u"/system.reg"_qs, reg);
        QDir().mkpath(path + u"/drive_c"_qs);
        QDir().mkpath(path + u"/dosdevices"_qs);
        QFile::link(u"../drive_c"_qs, path + u"/dosdevices/c:"_qs);
        return path;
    }
    static void makeGame(const QString& folder) { writeFile(folder + u"/QQLogin.exe"_qs, "MZ"); }

private slots:
    void initTestCase()
    {
        m_env = std::make_unique<EnvGuard>();
        m_env->Set("HOME", home().toUtf8());
        m_env->Unset("WINEPREFIX");
    }
    void cleanupTestCase() { m_env.reset(); }
    void init() { QDir(home()).removeRecursively(); }

    void findsRegistryAndKnownFolders()
    {
        const QString a = makeWinePrefix(home() + u"/a"_qs, "C:\\\\Games\\\\CF");
        makeGame(a + u"/drive_c/Games/CF"_qs);
        const QString b = makeWinePrefix(home() + u"/b"_qs, "C:\\\\CF64", true); // a 64-bit prefix
        makeGame(b + u"/drive_c/CF64"_qs);
        const QString c = makeWinePrefix(home() + u"/c"_qs); // no registry entry: the usual folders
        makeGame(c + u"/drive_c/Program Files (x86)/Tencent/CrossFire"_qs);
        const QString d = makeWinePrefix(home() + u"/d"_qs, "C:\\\\Deleted"); // the game was removed
        const QString e = makeWinePrefix(home() + u"/e"_qs);                  // nothing at all

        const QList<config::GameInstall> found = config::FindGameInstalls(
            {{PrefixKind::Lutris, u"穿越火线"_qs, a},
             {PrefixKind::Bottles, u"CF"_qs, b},
             {PrefixKind::Plain, u"c"_qs, c},
             {PrefixKind::Plain, u"d"_qs, d},
             {PrefixKind::Proton, u"42"_qs, e}});
        QCOMPARE(found.size(), 3);
        QCOMPARE(found[0].folder, a + u"/dosdevices/c:/Games/CF"_qs);
        QCOMPARE(found[0].label, u"Lutris · 穿越火线"_qs);
        QVERIFY(found[0].fromRegistry);
        QCOMPARE(found[1].folder, b + u"/dosdevices/c:/CF64"_qs);
        QCOMPARE(found[2].folder, c + u"/drive_c/Program Files (x86)/Tencent/CrossFire"_qs);
        QVERIFY(!found[2].fromRegistry);
    }

    void resolvesOneInstallAndAsksAmongSeveral()
    {
        const QString config = m_dir.path() + u"/config.ini"_qs;
        QFile::remove(config);
        int browses = 0;
        const config::GameFolderBrowser browse = [&] {
            ++browses;
            return false;
        };
        // Plain prefixes in ~/Games are found without any manager.
        const QString one = makeWinePrefix(home() + u"/Games/one"_qs, "C:\\\\CF");
        makeGame(one + u"/drive_c/CF"_qs);
        config::ResolvedGameFolder r = ResolveGameFolder(browse, config);
        QVERIFY(r.goOn);
        QCOMPARE(r.folder, one + u"/dosdevices/c:/CF"_qs);
        QVERIFY(!QFile::exists(config)); // the registry's word is not written down

        const QString two = makeWinePrefix(home() + u"/Games/two"_qs, "C:\\\\CF");
        makeGame(two + u"/drive_c/CF"_qs);
        r = ResolveGameFolder(browse, config);
        QVERIFY(!r.goOn); // the chooser (here: cancelled) decides between two
        QCOMPARE(browses, 1);

        // A remembered choice settles it from then on.
        writeFile(config, "[CF Info]\r\nFOLDER=" + (two + u"/drive_c/CF"_qs).toUtf8() + "\r\n");
        QCOMPARE(ResolveGameFolder(browse, config).folder, two + u"/drive_c/CF"_qs);
        QCOMPARE(browses, 1);
    }
};

YFZS_TEST_CLASS(GameInstallsTest)
#include "gameinstalls_test.moc"
