#include "platform/launcher.h"
#include "platform/prefixfinder.h"

#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

using platform::PrefixKind;
using platform::WinePrefix;

namespace {

// A home folder laid out the way each game manager leaves it, plus a bin/ of stand-in programs.
struct FakeHome
{
    QTemporaryDir dir;
    QString home = dir.path();

    void prefix(const QString& path) const
    {
        QVERIFY(writeFile(path + u"/system.reg"_qs, "WINE REGISTRY Version 2\n"));
        QVERIFY(QDir().mkpath(path + u"/drive_c/Program Files"_qs));
    }
    void executable(const QString& path, const QByteArray& script = "#!/bin/sh\n") const
    {
        QVERIFY(writeFile(path, script));
        QVERIFY(QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QString bin() const { return home + u"/bin"_qs; }

    // pga.db with the columns Lutris reads a game by.
    void lutrisDatabase(const QList<std::pair<int, QString>>& games) const
    {
        const QString path = home + u"/.local/share/lutris/pga.db"_qs;
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        QString sql = QStringLiteral(
            "CREATE TABLE games (id INTEGER PRIMARY KEY, name TEXT, slug TEXT, runner TEXT, "
            "configpath TEXT, installed INTEGER);");
        for (const auto& [id, config] : games)
            sql += u"INSERT INTO games VALUES (%1, '穿越火线', 'crossfire', 'wine', '%2', 1);"_qs.arg(id).arg(
                config);
        QCOMPARE(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
};

const WinePrefix* byPath(const QList<WinePrefix>& list, const QString& path)
{
    for (const WinePrefix& p : list)
        if (p.path == path)
            return &p;
    return nullptr;
}

} // namespace

class PrefixFinderTest : public QObject
{
    Q_OBJECT

private slots:
    void findsEveryLayout()
    {
        FakeHome f;
        const QString h = f.home;
        // Lutris: one game in each games folder, one of them with its id in pga.db.
        f.prefix(h + u"/Games/crossfire"_qs);
        QVERIFY(writeFile(h + u"/.config/lutris/games/crossfire-1700000000.yml"_qs,
                          "game:\n  exe: drive_c/CF/QQLogin.exe\n  prefix: ~/Games/crossfire\n"
                          "wine:\n  version: lutris-7.2-2-x86_64\nsystem: {}\n"));
        f.prefix(h + u"/lutris/other"_qs);
        QVERIFY(writeFile(h + u"/.local/share/lutris/games/other-1.yml"_qs,
                          "game:\n  exe: " + (h + u"/lutris/other/drive_c/a.exe"_qs).toUtf8()
                              + "\n  prefix: $HOME/lutris/other\n"));
        QVERIFY(writeFile(h + u"/.config/lutris/runners/wine.yml"_qs, "wine:\n  version: wine-ge-8\n"));
        f.lutrisDatabase({{7, u"crossfire-1700000000"_qs}});
        // Bottles, native and Flatpak, one of them kept on a custom path.
        QVERIFY(writeFile(h + u"/.local/share/bottles/bottles/CF/bottle.yml"_qs,
                          "Name: CF\nRunner: soda-7.0-9\nPath: CF\nEnvironment: Gaming\n"));
        f.prefix(h + u"/elsewhere/bottle"_qs);
        QVERIFY(writeFile(h + u"/.var/app/com.usebottles.bottles/data/bottles/bottles/Flat/bottle.yml"_qs,
                          "Name: Flat Bottle\nRunner: caffe-7.20\nCustom_Path: true\nPath: "
                              + (h + u"/elsewhere/bottle"_qs).toUtf8() + "\n"));
        // A bottle in a custom location: a placeholder here, the bottle itself where it points.
        f.prefix(h + u"/mnt/games/CustomCF"_qs);
        QVERIFY(writeFile(h + u"/.local/share/bottles/bottles/CustomCF/placeholder.yml"_qs,
                          "Path: " + (h + u"/mnt/games/CustomCF"_qs).toUtf8() + "\n"));
        QVERIFY(writeFile(h + u"/mnt/games/CustomCF/bottle.yml"_qs, "Name: Custom CF\nRunner: soda-7.0-9\n"));
        // Proton, reached through the usual ~/.steam/steam link.
        const QString steam = h + u"/.local/share/Steam"_qs;
        f.prefix(steam + u"/steamapps/compatdata/3141592653/pfx"_qs);
        QVERIFY(writeFile(steam + u"/steamapps/compatdata/3141592653/config_info"_qs,
                          "7.0-6\n" + steam.toUtf8() + "/steamapps/common/Proton 7.0/dist/share/fonts/\n"));
        QVERIFY(QDir().mkpath(h + u"/.steam"_qs));
        QVERIFY(QFile::link(steam, h + u"/.steam/steam"_qs));
        // Plain prefixes; a folder in ~/Games without a registry is no prefix.
        f.prefix(h + u"/.wine"_qs);
        f.prefix(h + u"/Games/plain"_qs);
        QVERIFY(QDir().mkpath(h + u"/Games/notes"_qs));

        const QList<WinePrefix> found = platform::FindWinePrefixes(h, QString());
        QCOMPARE(found.size(), 8);
        const WinePrefix* custom = byPath(found, h + u"/mnt/games/CustomCF"_qs);
        QVERIFY(custom);
        QCOMPARE(custom->kind, PrefixKind::Bottles);
        QCOMPARE(custom->name, u"Custom CF"_qs);

        const WinePrefix* cf = byPath(found, h + u"/Games/crossfire"_qs);
        const WinePrefix* other = byPath(found, h + u"/lutris/other"_qs);
        const WinePrefix* bottle = byPath(found, h + u"/.local/share/bottles/bottles/CF"_qs);
        const WinePrefix* flat = byPath(found, h + u"/elsewhere/bottle"_qs);
        QVERIFY(cf && other && bottle && flat && byPath(found, h + u"/.wine"_qs)
                && byPath(found, h + u"/Games/plain"_qs));
        QCOMPARE(cf->kind, PrefixKind::Lutris); // not also listed as the plain prefix it is
        QCOMPARE(cf->gameId, u"7"_qs);
        QCOMPARE(cf->name, u"穿越火线"_qs);
        QCOMPARE(cf->gameExe, h + u"/Games/crossfire/drive_c/CF/QQLogin.exe"_qs);
        QCOMPARE(cf->runner, h + u"/.local/share/lutris/runners/wine/lutris-7.2-2-x86_64/bin/wine"_qs);
        QVERIFY(other->gameId.isEmpty());
        QCOMPARE(other->runner, h + u"/.local/share/lutris/runners/wine/wine-ge-8/bin/wine"_qs);

        QCOMPARE(bottle->kind, PrefixKind::Bottles);
        QCOMPARE(bottle->runner, u"soda-7.0-9"_qs);
        QVERIFY(!bottle->flatpak);
        QVERIFY(flat->flatpak);
        QCOMPARE(flat->name, u"Flat Bottle"_qs);

        const auto proton = std::find_if(found.begin(), found.end(),
                                         [](const WinePrefix& p) { return p.kind == PrefixKind::Proton; });
        QVERIFY(proton != found.end());
        QCOMPARE(proton->gameId, u"3141592653"_qs);
        QCOMPARE(proton->runner, steam + u"/steamapps/common/Proton 7.0"_qs);

        // $WINEPREFIX replaces ~/.wine.
        f.prefix(h + u"/custom"_qs);
        const QList<WinePrefix> withEnv = platform::FindWinePrefixes(h, h + u"/custom"_qs);
        QVERIFY(byPath(withEnv, h + u"/custom"_qs));
        QVERIFY(!byPath(withEnv, h + u"/.wine"_qs));
    }

    void passesOverBrokenManagerFiles()
    {
        FakeHome f;
        const QString h = f.home;
        QVERIFY(writeFile(h + u"/.config/lutris/games/bad.yml"_qs, "game: [unclosed\n"));
        QVERIFY(writeFile(h + u"/.config/lutris/games/list.yml"_qs, "- a\n- b\n"));
        QVERIFY(writeFile(h + u"/.config/lutris/games/noprefix.yml"_qs, "game:\n  exe: a.exe\n"));
        QVERIFY(writeFile(h + u"/.config/lutris/games/relative.yml"_qs, "game:\n  prefix: Games/cf\n"));
        QVERIFY(writeFile(h + u"/.local/share/lutris/pga.db"_qs, "not a database"));
        QVERIFY(writeFile(h + u"/.local/share/bottles/bottles/B/bottle.yml"_qs, "\x01\x02: ]["));
        QVERIFY(writeFile(h + u"/.steam/steam/steamapps/compatdata/1/config_info"_qs, ""));
        QVERIFY(platform::FindWinePrefixes(h, QString()).isEmpty());
    }

    void startsEachKindItsOwnWay()
    {
        FakeHome f;
        for (const char16_t* tool : {u"lutris", u"wine", u"bottles-cli", u"flatpak"})
            f.executable(f.bin() + u'/' + QString::fromUtf16(tool));
        EnvGuard env;
        env.Set("PATH", f.bin().toUtf8());
        const QString runner = f.home + u"/runner/bin/wine"_qs;
        f.executable(runner);

        WinePrefix lutris{PrefixKind::Lutris,
                          u"CF"_qs,
                          f.home + u"/cf"_qs,
                          runner,
                          u"7"_qs,
                          f.home + u"/cf/drive_c/CF/QQLogin.exe"_qs};
        platform::LaunchCommand c = platform::CommandForExe(lutris, lutris.gameExe, {});
        QCOMPARE(c.program, f.bin() + u"/lutris"_qs);
        QCOMPARE(c.arguments, QStringList{u"lutris:rungameid/7"_qs});
        // The id takes no arguments, and names only the game's own program.
        c = platform::CommandForExe(lutris, lutris.gameExe, {u"-x"_qs});
        QCOMPARE(c.program, runner);
        QCOMPARE(c.arguments, (QStringList{lutris.gameExe, u"-x"_qs}));
        QCOMPARE(c.environment.value(u"WINEPREFIX"_qs), lutris.path);
        c = platform::CommandForExe(lutris, f.home + u"/cf/drive_c/CF/update.exe"_qs, {});
        QCOMPARE(c.program, runner);
        QVERIFY(c.missing.isEmpty());
        // A runner that was removed is named, not silently replaced.
        lutris.runner = f.home + u"/gone/bin/wine"_qs;
        c = platform::CommandForExe(lutris, f.home + u"/cf/drive_c/x.exe"_qs, {});
        QCOMPARE(c.missing, lutris.runner);

        WinePrefix bottle{PrefixKind::Bottles, u"CF"_qs, f.home + u"/b"_qs, u"soda"_qs};
        c = platform::CommandForExe(bottle, u"/b/drive_c/QQLogin.exe"_qs, {u"a"_qs, u"b"_qs});
        QCOMPARE(c.program, f.bin() + u"/bottles-cli"_qs);
        QCOMPARE(c.arguments,
                 (QStringList{u"run"_qs, u"-b"_qs, u"CF"_qs, u"-e"_qs, u"/b/drive_c/QQLogin.exe"_qs, u"-a"_qs,
                              u"a b"_qs}));
        bottle.flatpak = true;
        c = platform::CommandForExe(bottle, u"/b/drive_c/QQLogin.exe"_qs, {});
        QCOMPARE(c.program, f.bin() + u"/flatpak"_qs);
        QCOMPARE(
            c.arguments.mid(0, 4),
            (QStringList{u"run"_qs, u"--command=bottles-cli"_qs, u"com.usebottles.bottles"_qs, u"run"_qs}));

        const QString steam = f.home + u"/steam"_qs;
        QVERIFY(writeFile(steam + u"/common/Proton 7.0/proton"_qs, "#!/usr/bin/env python3\n"));
        const WinePrefix proton{.kind = PrefixKind::Proton,
                                .name = u"42"_qs,
                                .path = steam + u"/compatdata/42/pfx"_qs,
                                .runner = steam + u"/common/Proton 7.0"_qs,
                                .gameId = u"42"_qs,
                                .steamRoot = steam};
        c = platform::CommandForExe(proton, u"/x/QQLogin.exe"_qs, {});
        QCOMPARE(c.program, steam + u"/common/Proton 7.0/proton"_qs);
        QCOMPARE(c.arguments, (QStringList{u"run"_qs, u"/x/QQLogin.exe"_qs}));
        QCOMPARE(c.environment.value(u"STEAM_COMPAT_DATA_PATH"_qs), steam + u"/compatdata/42"_qs);
        QCOMPARE(c.environment.value(u"STEAM_COMPAT_CLIENT_INSTALL_PATH"_qs), steam);
        QVERIFY(c.missing.isEmpty());

        const WinePrefix plain{PrefixKind::Plain, u".wine"_qs, f.home + u"/.wine"_qs};
        c = platform::CommandForExe(plain, u"/p/a.exe"_qs, {});
        QCOMPARE(c.program, f.bin() + u"/wine"_qs);
        QCOMPARE(c.environment.value(u"WINEPREFIX"_qs), plain.path);

        // Without the managers' programs each start says what it lacks.
        env.Set("PATH", (f.home + u"/nothing"_qs).toUtf8());
        QCOMPARE(platform::CommandForExe(plain, u"/p/a.exe"_qs, {}).missing, u"wine"_qs);
        QCOMPARE(platform::CommandForExe(bottle, u"/p/a.exe"_qs, {}).missing, u"flatpak"_qs);
        bottle.flatpak = false;
        QCOMPARE(platform::CommandForExe(bottle, u"/p/a.exe"_qs, {}).missing, u"bottles-cli"_qs);
        lutris.runner = runner; // no lutris in PATH: the game's own runner still starts it
        c = platform::CommandForExe(lutris, lutris.gameExe, {});
        QCOMPARE(c.program, runner);
    }

    void findsThePrefixOfAPath()
    {
        FakeHome f;
        const QString outer = f.home + u"/p"_qs;
        const QString inner = outer + u"/drive_c/nested"_qs;
        f.prefix(outer);
        f.prefix(inner);
        QVERIFY(QFile::link(outer, f.home + u"/link"_qs));
        const QList<WinePrefix> prefixes{{PrefixKind::Plain, u"p"_qs, outer},
                                         {PrefixKind::Bottles, u"n"_qs, inner}};
        QCOMPARE(platform::PrefixContaining(prefixes, outer + u"/drive_c/CF/QQLogin.exe"_qs)->path, outer);
        QCOMPARE(platform::PrefixContaining(prefixes, inner + u"/drive_c/CF"_qs)->path, inner);
        QCOMPARE(platform::PrefixContaining(prefixes, f.home + u"/link/drive_c/CF"_qs)->path, outer);
        QVERIFY(!platform::PrefixContaining(prefixes, outer + u"/system.reg"_qs));
        QVERIFY(!platform::PrefixContaining(prefixes, f.home + u"/pother/drive_c/x"_qs));
    }

    // The opener starts an .exe in a manager's prefix through that prefix's runner, for real.
    void openerUsesThePrefixRunner()
    {
        FakeHome f;
        const QString h = f.home;
        const QString runner = h + u"/.local/share/lutris/runners/wine/ge-8/bin/wine"_qs;
        const QString log = h + u"/launch.log"_qs;
        const QByteArray logName = log.toUtf8();
        f.executable(runner,
                     "#!/bin/sh\nprintf '%s|%s' \"$1\" \"$WINEPREFIX\" > \"" + logName + ".tmp\"\nmv \""
                         + logName + ".tmp\" \"" + logName + "\"\n");
        f.prefix(h + u"/Games/cf"_qs);
        QVERIFY(writeFile(
            h + u"/.config/lutris/games/cf-1.yml"_qs,
            "game:\n  exe: drive_c/CF/QQLogin.exe\n  prefix: ~/Games/cf\nwine:\n  version: ge-8\n"));
        const QString exe = h + u"/Games/cf/drive_c/CF/update.exe"_qs;
        QVERIFY(writeFile(exe, "MZ"));

        EnvGuard env;
        env.Set("HOME", h.toUtf8());
        QVERIFY(platform::OpenWithShell(exe));
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(log); }, 10000));
        QCOMPARE(readFile(log), (exe + u'|' + h + u"/Games/cf"_qs).toUtf8());

        // With the runner gone the start fails instead of falling back to some other Wine.
        QVERIFY(QFile::remove(runner));
        QVERIFY(!platform::OpenWithShell(exe));
    }
};

YFZS_TEST_CLASS(PrefixFinderTest)
#include "prefixfinder_test.moc"
