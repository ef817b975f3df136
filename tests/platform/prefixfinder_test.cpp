#include "prefixfinder.h"
#include "launcher.h"

#include "testfiles.h"
#include "testrunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

// A home folder laid out the way each game manager leaves it, plus a bin/ of stand-in programs.
struct FakeHome
{
    QTemporaryDir dir;
    QString home = dir.path();

    void prefix(const QString& path) const
    {
        QVERIFY(writeFile(path + QStringLiteral("/system.reg"), "WINE REGISTRY Version 2\n"));
        QVERIFY(QDir().mkpath(path + QStringLiteral("/drive_c/Program Files")));
    }
    void tool(const QString& name) const
    {
        const QString path = home + QStringLiteral("/bin/") + name;
        QVERIFY(writeFile(path, "#!/bin/sh\n"));
        QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString bin() const { return home + QStringLiteral("/bin"); }

    // pga.db with the columns Lutris reads a game by.
    void lutrisDatabase(const QList<std::pair<int, QString>>& games) const
    {
        const QString path = home + QStringLiteral("/.local/share/lutris/pga.db");
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        QString sql = QStringLiteral(
            "CREATE TABLE games (id INTEGER PRIMARY KEY, name TEXT, slug TEXT, runner TEXT, "
            "configpath TEXT, installed INTEGER);");
        for (const auto& [id, config] : games)
            sql += QStringLiteral("INSERT INTO games VALUES (%1, '穿越火线', 'crossfire', 'wine', '%2', 1);")
                       .arg(id)
                       .arg(config);
        QCOMPARE(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
};

platform::WinePrefix makePrefix(platform::PrefixKind kind, const QString& name, const QString& path,
                                const QString& runner = {}, const QString& gameId = {},
                                const QString& gameExe = {})
{
    platform::WinePrefix p;
    p.kind = kind;
    p.name = name;
    p.path = path;
    p.runner = runner;
    p.gameId = gameId;
    p.gameExe = gameExe;
    return p;
}

const platform::WinePrefix* byPath(const QList<platform::WinePrefix>& list, const QString& path)
{
    for (const platform::WinePrefix& p : list)
        if (p.path == path)
            return &p;
    return nullptr;
}

class PathGuard
{
public:
    explicit PathGuard(const QString& path)
        : m_old(qgetenv("PATH"))
    {
        qputenv("PATH", path.toUtf8());
    }
    ~PathGuard() { qputenv("PATH", m_old); }

private:
    QByteArray m_old;
};

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
        f.prefix(h + QStringLiteral("/Games/crossfire"));
        QVERIFY(writeFile(h + QStringLiteral("/.config/lutris/games/crossfire-1700000000.yml"),
                          "game:\n  exe: drive_c/CF/QQLogin.exe\n  prefix: ~/Games/crossfire\n"
                          "wine:\n  version: lutris-7.2-2-x86_64\nsystem: {}\n"));
        f.prefix(h + QStringLiteral("/lutris/other"));
        QVERIFY(writeFile(h + QStringLiteral("/.local/share/lutris/games/other-1.yml"),
                          "game:\n  exe: " + (h + QStringLiteral("/lutris/other/drive_c/a.exe")).toUtf8()
                              + "\n  prefix: $HOME/lutris/other\n"));
        QVERIFY(writeFile(h + QStringLiteral("/.config/lutris/runners/wine.yml"),
                          "wine:\n  version: wine-ge-8\n"));
        f.lutrisDatabase({{7, QStringLiteral("crossfire-1700000000")}});
        // Bottles, native and Flatpak, one of them kept on a custom path.
        QVERIFY(writeFile(h + QStringLiteral("/.local/share/bottles/bottles/CF/bottle.yml"),
                          "Name: CF\nRunner: soda-7.0-9\nPath: CF\nEnvironment: Gaming\n"));
        f.prefix(h + QStringLiteral("/elsewhere/bottle"));
        QVERIFY(writeFile(
            h + QStringLiteral("/.var/app/com.usebottles.bottles/data/bottles/bottles/Flat/bottle.yml"),
            "Name: Flat Bottle\nRunner: caffe-7.20\nCustom_Path: true\nPath: "
                + (h + QStringLiteral("/elsewhere/bottle")).toUtf8() + "\n"));
        // Proton, reached through the usual ~/.steam/steam link.
        const QString steam = h + QStringLiteral("/.local/share/Steam");
        f.prefix(steam + QStringLiteral("/steamapps/compatdata/3141592653/pfx"));
        QVERIFY(writeFile(steam + QStringLiteral("/steamapps/compatdata/3141592653/config_info"),
                          "7.0-6\n" + steam.toUtf8() + "/steamapps/common/Proton 7.0/dist/share/fonts/\n"));
        QVERIFY(QDir().mkpath(h + QStringLiteral("/.steam")));
        QVERIFY(QFile::link(steam, h + QStringLiteral("/.steam/steam")));
        // Plain prefixes; a folder in ~/Games without a registry is no prefix.
        f.prefix(h + QStringLiteral("/.wine"));
        f.prefix(h + QStringLiteral("/Games/plain"));
        QVERIFY(QDir().mkpath(h + QStringLiteral("/Games/notes")));

        const QList<platform::WinePrefix> found = platform::FindWinePrefixes(h, QString());
        QCOMPARE(found.size(), 7);

        const platform::WinePrefix* cf = byPath(found, h + QStringLiteral("/Games/crossfire"));
        QVERIFY(cf);
        QCOMPARE(cf->kind, platform::PrefixKind::Lutris); // not also listed as the plain prefix it is
        QCOMPARE(cf->gameId, QStringLiteral("7"));
        QCOMPARE(cf->name, QStringLiteral("穿越火线"));
        QCOMPARE(cf->gameExe, h + QStringLiteral("/Games/crossfire/drive_c/CF/QQLogin.exe"));
        QCOMPARE(cf->runner,
                 h + QStringLiteral("/.local/share/lutris/runners/wine/lutris-7.2-2-x86_64/bin/wine"));
        const platform::WinePrefix* other = byPath(found, h + QStringLiteral("/lutris/other"));
        QVERIFY(other);
        QVERIFY(other->gameId.isEmpty());
        QCOMPARE(other->runner, h + QStringLiteral("/.local/share/lutris/runners/wine/wine-ge-8/bin/wine"));

        const platform::WinePrefix* bottle = byPath(found,
                                                    h + QStringLiteral("/.local/share/bottles/bottles/CF"));
        QVERIFY(bottle);
        QCOMPARE(bottle->kind, platform::PrefixKind::Bottles);
        QCOMPARE(bottle->runner, QStringLiteral("soda-7.0-9"));
        QVERIFY(!bottle->flatpak);
        const platform::WinePrefix* flat = byPath(found, h + QStringLiteral("/elsewhere/bottle"));
        QVERIFY(flat);
        QVERIFY(flat->flatpak);
        QCOMPARE(flat->name, QStringLiteral("Flat Bottle"));

        const auto proton = std::find_if(found.begin(), found.end(), [](const platform::WinePrefix& p) {
            return p.kind == platform::PrefixKind::Proton;
        });
        QVERIFY(proton != found.end());
        QCOMPARE(proton->gameId, QStringLiteral("3141592653"));
        QCOMPARE(proton->runner, steam + QStringLiteral("/steamapps/common/Proton 7.0"));

        QVERIFY(byPath(found, h + QStringLiteral("/.wine")));
        QVERIFY(byPath(found, h + QStringLiteral("/Games/plain")));

        // $WINEPREFIX replaces ~/.wine.
        f.prefix(h + QStringLiteral("/custom"));
        const QList<platform::WinePrefix> withEnv = platform::FindWinePrefixes(h,
                                                                               h + QStringLiteral("/custom"));
        QVERIFY(byPath(withEnv, h + QStringLiteral("/custom")));
        QVERIFY(!byPath(withEnv, h + QStringLiteral("/.wine")));
    }

    void passesOverBrokenManagerFiles()
    {
        FakeHome f;
        const QString h = f.home;
        QVERIFY(writeFile(h + QStringLiteral("/.config/lutris/games/bad.yml"), "game: [unclosed\n"));
        QVERIFY(writeFile(h + QStringLiteral("/.config/lutris/games/list.yml"), "- a\n- b\n"));
        QVERIFY(writeFile(h + QStringLiteral("/.config/lutris/games/noprefix.yml"), "game:\n  exe: a.exe\n"));
        QVERIFY(writeFile(h + QStringLiteral("/.local/share/lutris/pga.db"), "not a database"));
        QVERIFY(writeFile(h + QStringLiteral("/.local/share/bottles/bottles/B/bottle.yml"), "\x01\x02: ]["));
        QVERIFY(writeFile(h + QStringLiteral("/.steam/steam/steamapps/compatdata/1/config_info"), ""));
        QVERIFY(platform::FindWinePrefixes(h, QString()).isEmpty());
    }

    void startsEachKindItsOwnWay()
    {
        FakeHome f;
        for (const char* tool : {"lutris", "wine", "bottles-cli", "flatpak"})
            f.tool(QString::fromLatin1(tool));
        const PathGuard path(f.bin());
        const QString runner = f.home + QStringLiteral("/runner/bin/wine");
        QVERIFY(writeFile(runner, "#!/bin/sh\n"));
        QFile(runner).setPermissions(QFile::ReadOwner | QFile::ExeOwner);

        platform::WinePrefix lutris = makePrefix(platform::PrefixKind::Lutris, QStringLiteral("CF"),
                                                 f.home + QStringLiteral("/cf"), runner, QStringLiteral("7"),
                                                 f.home + QStringLiteral("/cf/drive_c/CF/QQLogin.exe"));
        platform::LaunchCommand c = platform::CommandForExe(lutris, lutris.gameExe, {});
        QCOMPARE(c.program, f.bin() + QStringLiteral("/lutris"));
        QCOMPARE(c.arguments, QStringList{QStringLiteral("lutris:rungameid/7")});
        // The id takes no arguments, and names only the game's own program.
        c = platform::CommandForExe(lutris, lutris.gameExe, {QStringLiteral("-x")});
        QCOMPARE(c.program, runner);
        QCOMPARE(c.arguments, (QStringList{lutris.gameExe, QStringLiteral("-x")}));
        QCOMPARE(c.environment.value(QStringLiteral("WINEPREFIX")), lutris.path);
        c = platform::CommandForExe(lutris, f.home + QStringLiteral("/cf/drive_c/CF/update.exe"), {});
        QCOMPARE(c.program, runner);
        QVERIFY(c.missing.isEmpty());
        // A runner that was removed is named, not silently replaced.
        lutris.runner = f.home + QStringLiteral("/gone/bin/wine");
        c = platform::CommandForExe(lutris, f.home + QStringLiteral("/cf/drive_c/x.exe"), {});
        QCOMPARE(c.missing, lutris.runner);

        platform::WinePrefix bottle = makePrefix(platform::PrefixKind::Bottles, QStringLiteral("CF"),
                                                 f.home + QStringLiteral("/b"), QStringLiteral("soda"));
        c = platform::CommandForExe(bottle, QStringLiteral("/b/drive_c/QQLogin.exe"),
                                    {QStringLiteral("a"), QStringLiteral("b")});
        QCOMPARE(c.program, f.bin() + QStringLiteral("/bottles-cli"));
        QCOMPARE(c.arguments,
                 (QStringList{QStringLiteral("run"), QStringLiteral("-b"), QStringLiteral("CF"),
                              QStringLiteral("-e"), QStringLiteral("/b/drive_c/QQLogin.exe"),
                              QStringLiteral("-a"), QStringLiteral("a b")}));
        bottle.flatpak = true;
        c = platform::CommandForExe(bottle, QStringLiteral("/b/drive_c/QQLogin.exe"), {});
        QCOMPARE(c.program, f.bin() + QStringLiteral("/flatpak"));
        QCOMPARE(c.arguments.mid(0, 4),
                 (QStringList{QStringLiteral("run"), QStringLiteral("--command=bottles-cli"),
                              QStringLiteral("com.usebottles.bottles"), QStringLiteral("run")}));

        const QString steam = f.home + QStringLiteral("/steam");
        QVERIFY(writeFile(steam + QStringLiteral("/common/Proton 7.0/proton"), "#!/usr/bin/env python3\n"));
        platform::WinePrefix proton = makePrefix(
            platform::PrefixKind::Proton, QStringLiteral("42"), steam + QStringLiteral("/compatdata/42/pfx"),
            steam + QStringLiteral("/common/Proton 7.0"), QStringLiteral("42"));
        proton.steamRoot = steam;
        c = platform::CommandForExe(proton, QStringLiteral("/x/QQLogin.exe"), {});
        QCOMPARE(c.program, steam + QStringLiteral("/common/Proton 7.0/proton"));
        QCOMPARE(c.arguments, (QStringList{QStringLiteral("run"), QStringLiteral("/x/QQLogin.exe")}));
        QCOMPARE(c.environment.value(QStringLiteral("STEAM_COMPAT_DATA_PATH")),
                 steam + QStringLiteral("/compatdata/42"));
        QCOMPARE(c.environment.value(QStringLiteral("STEAM_COMPAT_CLIENT_INSTALL_PATH")), steam);
        QVERIFY(c.missing.isEmpty());

        const platform::WinePrefix plain = makePrefix(platform::PrefixKind::Plain, QStringLiteral(".wine"),
                                                      f.home + QStringLiteral("/.wine"));
        c = platform::CommandForExe(plain, QStringLiteral("/p/a.exe"), {});
        QCOMPARE(c.program, f.bin() + QStringLiteral("/wine"));
        QCOMPARE(c.environment.value(QStringLiteral("WINEPREFIX")), plain.path);

        // Without the managers' programs each start says what it lacks.
        const PathGuard empty(f.home + QStringLiteral("/nothing"));
        QCOMPARE(platform::CommandForExe(plain, QStringLiteral("/p/a.exe"), {}).missing,
                 QStringLiteral("wine"));
        QCOMPARE(platform::CommandForExe(bottle, QStringLiteral("/p/a.exe"), {}).missing,
                 QStringLiteral("flatpak"));
        bottle.flatpak = false;
        QCOMPARE(platform::CommandForExe(bottle, QStringLiteral("/p/a.exe"), {}).missing,
                 QStringLiteral("bottles-cli"));
        lutris.runner = runner; // no lutris in PATH: the game's own runner still starts it
        c = platform::CommandForExe(lutris, lutris.gameExe, {});
        QCOMPARE(c.program, runner);
    }

    void findsThePrefixOfAPath()
    {
        FakeHome f;
        const QString outer = f.home + QStringLiteral("/p");
        const QString inner = outer + QStringLiteral("/drive_c/nested");
        f.prefix(outer);
        f.prefix(inner);
        QVERIFY(QFile::link(outer, f.home + QStringLiteral("/link")));
        const QList<platform::WinePrefix> prefixes{
            makePrefix(platform::PrefixKind::Plain, QStringLiteral("p"), outer),
            makePrefix(platform::PrefixKind::Bottles, QStringLiteral("n"), inner)};
        QCOMPARE(
            platform::PrefixContaining(prefixes, outer + QStringLiteral("/drive_c/CF/QQLogin.exe"))->path,
            outer);
        QCOMPARE(platform::PrefixContaining(prefixes, inner + QStringLiteral("/drive_c/CF"))->path, inner);
        QCOMPARE(platform::PrefixContaining(prefixes, f.home + QStringLiteral("/link/drive_c/CF"))->path,
                 outer);
        QVERIFY(!platform::PrefixContaining(prefixes, outer + QStringLiteral("/system.reg")));
        QVERIFY(!platform::PrefixContaining(prefixes, f.home + QStringLiteral("/pother/drive_c/x")));
    }

    // The opener starts an .exe in a manager's prefix through that prefix's runner, for real.
    void openerUsesThePrefixRunner()
    {
        FakeHome f;
        const QString h = f.home;
        const QString runner = h + QStringLiteral("/.local/share/lutris/runners/wine/ge-8/bin/wine");
        const QString log = h + QStringLiteral("/launch.log");
        QVERIFY(writeFile(runner,
                          "#!/bin/sh\nprintf '%s|%s' \"$1\" \"$WINEPREFIX\" > \"" + log.toUtf8()
                              + ".tmp\"\n"
                                "mv \""
                              + log.toUtf8() + ".tmp\" \"" + log.toUtf8() + "\"\n"));
        QFile(runner).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        f.prefix(h + QStringLiteral("/Games/cf"));
        QVERIFY(writeFile(
            h + QStringLiteral("/.config/lutris/games/cf-1.yml"),
            "game:\n  exe: drive_c/CF/QQLogin.exe\n  prefix: ~/Games/cf\nwine:\n  version: ge-8\n"));
        const QString exe = h + QStringLiteral("/Games/cf/drive_c/CF/update.exe");
        QVERIFY(writeFile(exe, "MZ"));

        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", h.toUtf8());
        const bool started = platform::OpenWithShell(exe);
        qputenv("HOME", savedHome);
        QVERIFY(started);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(log); }, 10000));
        QCOMPARE(readFile(log), (exe + u'|' + h + QStringLiteral("/Games/cf")).toUtf8());

        // With the runner gone the start fails instead of falling back to some other Wine.
        QVERIFY(QFile::remove(runner));
        qputenv("HOME", h.toUtf8());
        const bool startedWithout = platform::OpenWithShell(exe);
        qputenv("HOME", savedHome);
        QVERIFY(!startedWithout);
    }
};

YFZS_TEST_CLASS(PrefixFinderTest)
#include "prefixfinder_test.moc"
