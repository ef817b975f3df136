// Fuzz target: the game managers' files as the prefix finder and the game locator read them.
// The input is, in order: a Lutris game's YAML, Lutris's wine.yml, Lutris's pga.db (SQLite), a
// bottle's bottle.yml, a bottle's placeholder.yml, a Proton prefix's config_info and the
// registry of a plain prefix; they are laid out in a scratch home folder and every prefix and
// game install is looked for there. Checked: each prefix is an absolute, clean path found once,
// each start command names its program or what is missing, and each install is an existing
// folder labelled with its manager.
#include "config/gameinstalls.h"
#include "fuzzcommon.h"
#include "platform/prefixfinder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sqlite3.h>

namespace {

QString home()
{
    static const QString dir = fuzz::Sandbox() + QStringLiteral("/home");
    return dir;
}

const char* const kFiles[] = {
    "/.config/lutris/games/crossfire-1700000000.yml",
    "/.config/lutris/runners/wine.yml",
    "/.local/share/lutris/pga.db",
    "/.local/share/bottles/bottles/CF/bottle.yml",
    "/.local/share/bottles/bottles/Elsewhere/placeholder.yml",
    "/.steam/steam/steamapps/compatdata/2000/config_info",
    "/Games/cf/system.reg",
};

QByteArray lutrisDatabase()
{
    const QString path = fuzz::Sandbox() + QStringLiteral("/seed.db");
    QFile::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK) {
        sqlite3_exec(db,
                     "CREATE TABLE games (id INTEGER PRIMARY KEY, name TEXT, slug TEXT, configpath TEXT);"
                     "INSERT INTO games VALUES (7, '穿越火线', 'crossfire', 'crossfire-1700000000');"
                     "INSERT INTO games VALUES (8, NULL, 'x', '');",
                     nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = fuzz::Split(data, size, int(std::size(kFiles)));
    for (size_t i = 0; i < std::size(kFiles); ++i)
        fuzz::WriteFile(home() + QString::fromLatin1(kFiles[i]), parts.at(qsizetype(i)));
    QDir().mkpath(home() + QStringLiteral("/.steam/steam/steamapps/compatdata/2000/pfx/drive_c"));
    QDir().mkpath(home() + QStringLiteral("/Games/cf/drive_c/Program Files/CF"));
    fuzz::WriteFile(home() + QStringLiteral("/Games/cf/drive_c/Program Files/CF/QQLogin.exe"), "MZ");

    const QList<platform::WinePrefix> prefixes = platform::FindWinePrefixes(home(), QString());
    QSet<QString> paths;
    for (const platform::WinePrefix& p : prefixes) {
        if (!QDir::isAbsolutePath(p.path) || QDir::cleanPath(p.path) != p.path)
            fuzz::Fail("a prefix that is not an absolute clean path", p.path);
        if (paths.contains(p.path))
            fuzz::Fail("a prefix found twice", p.path);
        paths.insert(p.path);
        const QString exe = p.gameExe.isEmpty() ? p.path + QStringLiteral("/drive_c/x.exe") : p.gameExe;
        for (const QStringList& args : {QStringList{}, QStringList{QStringLiteral("-a")}}) {
            const platform::LaunchCommand cmd = platform::CommandForExe(p, exe, args);
            if (cmd.program.isEmpty() && cmd.missing.isEmpty())
                fuzz::Fail("a start command without a program or what is missing", p.path);
        }
        platform::PrefixContaining(prefixes, p.path + QStringLiteral("/drive_c/a"));
    }
    for (const config::GameInstall& install : config::FindGameInstalls(prefixes)) {
        if (!QFileInfo(install.folder).isDir())
            fuzz::Fail("an install that is no folder", install.folder);
        if (!install.label.contains(QStringLiteral(" · ")))
            fuzz::Fail("an install without its manager's label", install.label);
    }
    return 0;
}

QList<QByteArray> FuzzSeeds()
{
    const QByteArray lutris =
        "game:\n  exe: drive_c/Program Files/CF/QQLogin.exe\n  prefix: ~/Games/lutris-cf\n"
        "name: 穿越火线\nwine:\n  version: lutris-7.2-2-x86_64\n";
    const QByteArray runner = "wine:\n  version: lutris-GE-Proton8-26-x86_64\n";
    const QByteArray bottle = "Name: CF\nRunner: soda-7.0-9\nCustom_Path: true\nPath: /tmp/elsewhere\n"
                              "Environment: Gaming\nDLL_Overrides: {}\n";
    const QByteArray placeholder = "Path: /mnt/games/bottles/Elsewhere\n";
    const QByteArray configInfo =
        "Proton-8.0-5\n/home/u/.steam/steam/steamapps/common/Proton 8.0/files/share/fonts/\n";
    const QByteArray reg = "WINE REGISTRY Version 2\n\n[Software\\\\Tencent\\\\CrossFire] 1\n"
                           "\"InstallPath\"=\"C:\\\\Program Files\\\\CF\"\n";
    return {fuzz::Join({lutris, runner, lutrisDatabase(), bottle, placeholder, configInfo, reg}),
            fuzz::Join({"game: [1, 2]\nwine: {version: system}\n", "wine: ~\n", "",
                        "Name: &a x\nRunner: *a\n", "", "only one line", "[x"}),
            fuzz::Join({"game:\n  prefix: $HOME/../../..\n  exe: /bin/sh\n", "", "SQLite format 3\0",
                        "Custom_Path: true\nPath: relative\n", "", "\n/dist/", ""})};
}
