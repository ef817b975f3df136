// Listing every Wine prefix of a home with dozens of them: Lutris games with their database,
// native and Flatpak bottles, Proton prefixes and plain ones. Runs whenever a game folder is
// looked for or a Windows program started, so it must stay within a few milliseconds.

#include "platform/prefixfinder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sqlite3.h>

namespace {

void write(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

void prefix(const QString& path)
{
    write(path + QStringLiteral("/system.reg"), "WINE REGISTRY Version 2\n");
    QDir().mkpath(path + QStringLiteral("/drive_c/windows"));
}

// 24 Lutris games, 12 bottles, 12 Proton prefixes and 12 plain ones: 60 in all.
void makeHome(const QString& h)
{
    QString sql = QStringLiteral("CREATE TABLE games (id INTEGER PRIMARY KEY, name TEXT, configpath TEXT);");
    for (int i = 0; i < 24; ++i) {
        const QString slug = QStringLiteral("game%1-1700000000").arg(i);
        prefix(h + QStringLiteral("/Games/game%1").arg(i));
        write(
            h + QStringLiteral("/.config/lutris/games/") + slug + QStringLiteral(".yml"),
            QStringLiteral("game:\n  exe: drive_c/game/game.exe\n  prefix: %1/Games/game%2\n  arch: win64\n"
                           "wine:\n  version: lutris-7.2-2-x86_64\n  dxvk: true\nsystem:\n  env:\n    A: b\n")
                .arg(h)
                .arg(i)
                .toUtf8());
        sql += QStringLiteral("INSERT INTO games VALUES (%1, 'Game %1', '%2');").arg(i).arg(slug);
    }
    const QString db = h + QStringLiteral("/.local/share/lutris/pga.db");
    QDir().mkpath(QFileInfo(db).path());
    sqlite3* handle = nullptr;
    sqlite3_open(QFile::encodeName(db).constData(), &handle);
    sqlite3_exec(handle, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    sqlite3_close(handle);
    for (int i = 0; i < 12; ++i) {
        const QString bottle = h + QStringLiteral("/.local/share/bottles/bottles/b%1").arg(i);
        prefix(bottle);
        write(
            bottle + QStringLiteral("/bottle.yml"),
            QStringLiteral(
                "Name: b%1\nRunner: soda-7.0-9\nPath: b%1\nEnvironment: Gaming\nParameters:\n  dxvk: true\n")
                .arg(i)
                .toUtf8());
        const QString app = h
            + QStringLiteral("/.local/share/Steam/steamapps/compatdata/%1").arg(4000000 + i);
        prefix(app + QStringLiteral("/pfx"));
        write(app + QStringLiteral("/config_info"),
              "7.0-6\n" + h.toUtf8() + "/.local/share/Steam/steamapps/common/Proton 7.0/dist/share/fonts/\n");
        prefix(h + QStringLiteral("/Games/plain%1").arg(i));
    }
}

void BM_FindWinePrefixes(benchmark::State& state)
{
    QTemporaryDir dir;
    makeHome(dir.path());
    qsizetype found = 0;
    for (auto _ : state) {
        const QList<platform::WinePrefix> prefixes = platform::FindWinePrefixes(dir.path(), QString());
        found = prefixes.size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["prefixes"] = double(found);
}
BENCHMARK(BM_FindWinePrefixes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
