#include "platform/prefixfinder.h"
#include "platform/lazylibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <sqlite3.h>
#include <yaml-cpp/yaml.h>

#include <memory>

Q_LOGGING_CATEGORY(lcPrefix, "yfzs.prefix", QtCriticalMsg)

namespace platform {
namespace {

const QString kFlatpakBottles = QStringLiteral("com.usebottles.bottles");

QString homeDir()
{
    const QString home = qEnvironmentVariable("HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

// "~/Games/cf" and "$HOME/Games/cf", as Lutris writes them, against the home being searched.
QString expandHome(QString path, const QString& home)
{
    if (path == u'~' || path.startsWith(QStringLiteral("~/")))
        path.replace(0, 1, home);
    else if (path.startsWith(QStringLiteral("$HOME")))
        path.replace(0, 5, home);
    return QDir::cleanPath(path);
}

// Symlinks are common here (~/.steam/steam → ~/.local/share/Steam), so one prefix is known by
// its real path; for a path that does not exist (yet), by the real path of what does.
QString identity(const QString& path)
{
    QString existing = QDir::cleanPath(path);
    QString rest;
    while (!existing.isEmpty() && !QFileInfo::exists(existing)) {
        const qsizetype cut = existing.lastIndexOf(u'/');
        if (cut <= 0)
            return QDir::cleanPath(path);
        rest.prepend(existing.mid(cut));
        existing.truncate(cut);
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical + rest;
}

bool isPrefix(const QString& dir)
{
    return QFileInfo(dir + QStringLiteral("/system.reg")).isFile()
        || QFileInfo(dir + QStringLiteral("/drive_c")).isDir();
}

// Never assigns a node: yaml-cpp's assignment writes into the tree instead of rebinding.
QString scalar(const YAML::Node& node, const char* a, const char* b = nullptr)
{
    try {
        const YAML::Node first = node[a];
        const YAML::Node value = b && first.IsMap() ? first[b] : first;
        if (b && !first.IsMap())
            return {};
        if (value && value.IsScalar())
            return QString::fromStdString(value.as<std::string>());
    } catch (const YAML::Exception&) {
    }
    return {};
}

std::optional<YAML::Node> loadYaml(const QString& path)
{
    try {
        YAML::Node node = YAML::LoadFile(QFile::encodeName(path).toStdString());
        if (node.IsMap())
            return node;
    } catch (const YAML::Exception& e) {
        qCWarning(lcPrefix) << "unreadable" << path << e.what();
    }
    return std::nullopt;
}

// SQLite is needed only when a Lutris library is there to read, so it is loaded then: linked,
// its binding took a share of every start.
struct Sqlite
{
    decltype(&sqlite3_open_v2) open = nullptr;
    decltype(&sqlite3_close) close = nullptr;
    decltype(&sqlite3_errmsg) errmsg = nullptr;
    decltype(&sqlite3_busy_timeout) busyTimeout = nullptr;
    decltype(&sqlite3_prepare_v2) prepare = nullptr;
    decltype(&sqlite3_step) step = nullptr;
    decltype(&sqlite3_column_text) columnText = nullptr;
    decltype(&sqlite3_column_int64) columnInt64 = nullptr;
    decltype(&sqlite3_finalize) finalize = nullptr;
};

const Sqlite* loadSqlite()
{
    static LazyLibrary library(QStringLiteral("sqlite3"), 0, lcPrefix());
    if (!library.Load())
        return nullptr;
    static Sqlite api;
    const bool complete = library.Resolve("sqlite3_open_v2", api.open)
        && library.Resolve("sqlite3_close", api.close) && library.Resolve("sqlite3_errmsg", api.errmsg)
        && library.Resolve("sqlite3_busy_timeout", api.busyTimeout)
        && library.Resolve("sqlite3_prepare_v2", api.prepare) && library.Resolve("sqlite3_step", api.step)
        && library.Resolve("sqlite3_column_text", api.columnText)
        && library.Resolve("sqlite3_column_int64", api.columnInt64)
        && library.Resolve("sqlite3_finalize", api.finalize);
    return complete ? &api : nullptr;
}

const Sqlite* sqlite()
{
    static const Sqlite* const api = loadSqlite(); // once, whichever thread asks first
    return api;
}

struct LutrisGame
{
    QString id;
    QString name;
};

// pga.db's games table: the id Lutris starts a game by, keyed by its YAML's base name.
QHash<QString, LutrisGame> readLutrisDatabase(const QString& dbPath)
{
    QHash<QString, LutrisGame> games;
    if (!QFileInfo(dbPath).isFile())
        return games;
    const Sqlite* sql = sqlite();
    if (!sql)
        return games; // the prefixes are still found, only without Lutris's names and ids
    sqlite3* raw = nullptr;
    const QByteArray uri = QByteArrayLiteral("file:") + QFile::encodeName(dbPath)
        + QByteArrayLiteral("?mode=ro");
    if (sql->open(uri.constData(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
        qCWarning(lcPrefix) << "cannot open" << dbPath << sql->errmsg(raw);
        sql->close(raw);
        return games;
    }
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, sql->close);
    sql->busyTimeout(db.get(), 200); // Lutris may be writing it right now
    sqlite3_stmt* stmt = nullptr;
    if (sql->prepare(db.get(), "SELECT id, name, configpath FROM games", -1, &stmt, nullptr) != SQLITE_OK) {
        qCWarning(lcPrefix) << "unexpected" << dbPath << sql->errmsg(db.get());
        return games;
    }
    while (sql->step(stmt) == SQLITE_ROW) {
        const auto text = [sql, stmt](int column) {
            const auto* p = reinterpret_cast<const char*>(sql->columnText(stmt, column));
            return p ? QString::fromUtf8(p) : QString();
        };
        const QString config = text(2);
        if (!config.isEmpty())
            games.insert(config, {QString::number(sql->columnInt64(stmt, 0)), text(1)});
    }
    sql->finalize(stmt);
    return games;
}

void findLutris(const QString& home, QList<WinePrefix>& out)
{
    const QString data = home + QStringLiteral("/.local/share/lutris");
    const QHash<QString, LutrisGame> games = readLutrisDatabase(data + QStringLiteral("/pga.db"));

    // A game without a wine.version of its own runs with the runner's default.
    QString defaultVersion;
    if (const auto runnerConfig = loadYaml(home + QStringLiteral("/.config/lutris/runners/wine.yml")))
        defaultVersion = scalar(*runnerConfig, "wine", "version");

    for (const QString& dir :
         {home + QStringLiteral("/.config/lutris/games"), data + QStringLiteral("/games")}) {
        const QFileInfoList files = QDir(dir).entryInfoList({QStringLiteral("*.yml")}, QDir::Files,
                                                            QDir::Name);
        for (const QFileInfo& file : files) {
            const auto yaml = loadYaml(file.filePath());
            if (!yaml)
                continue;
            const QString prefixPath = scalar(*yaml, "game", "prefix");
            if (prefixPath.isEmpty())
                continue;
            WinePrefix p;
            p.kind = PrefixKind::Lutris;
            p.path = expandHome(prefixPath, home);
            // A relative prefix would be taken from whatever folder the program runs in.
            if (!QDir::isAbsolutePath(p.path)) {
                qCWarning(lcPrefix) << "passed over" << file.filePath() << "- prefix is not an absolute path";
                continue;
            }
            const QString exe = scalar(*yaml, "game", "exe");
            if (!exe.isEmpty())
                p.gameExe = QDir::isAbsolutePath(expandHome(exe, home))
                    ? expandHome(exe, home)
                    : QDir::cleanPath(p.path + u'/' + exe);
            const LutrisGame game = games.value(file.completeBaseName());
            p.gameId = game.id;
            p.name = game.name.isEmpty() ? file.completeBaseName() : game.name;
            QString version = scalar(*yaml, "wine", "version");
            if (version.isEmpty())
                version = defaultVersion;
            if (!version.isEmpty() && version != QStringLiteral("system"))
                p.runner = data + QStringLiteral("/runners/wine/") + version + QStringLiteral("/bin/wine");
            out.append(p);
        }
    }
}

void findBottles(const QString& dataDir, bool flatpak, QList<WinePrefix>& out)
{
    const QDir bottles(dataDir + QStringLiteral("/bottles"));
    for (const QFileInfo& dir : bottles.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        QString folder = dir.filePath();
        auto yaml = loadYaml(folder + QStringLiteral("/bottle.yml"));
        if (!yaml) {
            // A bottle made in a custom location leaves only placeholder.yml here, whose Path
            // names the folder that holds the bottle and its bottle.yml.
            const auto placeholder = loadYaml(folder + QStringLiteral("/placeholder.yml"));
            const QString elsewhere = placeholder ? scalar(*placeholder, "Path") : QString();
            if (!QDir::isAbsolutePath(elsewhere))
                continue;
            folder = QDir::cleanPath(elsewhere);
            yaml = loadYaml(folder + QStringLiteral("/bottle.yml"));
            if (!yaml)
                continue;
        }
        WinePrefix p;
        p.kind = PrefixKind::Bottles;
        p.flatpak = flatpak;
        p.name = scalar(*yaml, "Name");
        if (p.name.isEmpty())
            p.name = dir.fileName();
        p.path = folder;
        // A bottle kept elsewhere says so; its folder here holds only the description.
        const QString custom = scalar(*yaml, "Custom_Path");
        const QString path = scalar(*yaml, "Path");
        if (custom == QStringLiteral("true") && QDir::isAbsolutePath(path))
            p.path = QDir::cleanPath(path);
        p.runner = scalar(*yaml, "Runner");
        out.append(p);
    }
}

// config_info: the Proton version on the first line, then paths into the Proton build that made
// the prefix (".../Proton 7.0/dist/share/fonts/" or ".../files/share/fonts/").
QString protonFromConfigInfo(const QString& configInfo)
{
    QFile file(configInfo);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        for (const QString& marker : {QStringLiteral("/files/"), QStringLiteral("/dist/")}) {
            const qsizetype at = line.indexOf(marker);
            if (at > 0)
                return line.left(at);
        }
    }
    return {};
}

void findProton(const QString& home, QList<WinePrefix>& out)
{
    QStringList seenRoots;
    for (const QString& root :
         {home + QStringLiteral("/.steam/steam"), home + QStringLiteral("/.local/share/Steam")}) {
        const QString real = identity(root);
        if (!QFileInfo(root).isDir() || seenRoots.contains(real))
            continue;
        seenRoots.append(real);
        const QDir compat(root + QStringLiteral("/steamapps/compatdata"));
        for (const QFileInfo& app : compat.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString pfx = app.filePath() + QStringLiteral("/pfx");
            if (!isPrefix(pfx))
                continue;
            WinePrefix p;
            p.kind = PrefixKind::Proton;
            p.name = app.fileName();
            p.gameId = app.fileName();
            p.path = pfx;
            p.runner = protonFromConfigInfo(app.filePath() + QStringLiteral("/config_info"));
            p.steamRoot = root;
            out.append(p);
        }
    }
}

void findPlain(const QString& home, const QString& winePrefixEnv, QList<WinePrefix>& out)
{
    const QString wine = FindInPath(QStringLiteral("wine"), qEnvironmentVariable("PATH"));
    const auto add = [&](const QString& dir) {
        if (!isPrefix(dir))
            return;
        WinePrefix p;
        p.kind = PrefixKind::Plain;
        p.name = QFileInfo(dir).fileName();
        p.path = QDir::cleanPath(dir);
        p.runner = wine;
        out.append(p);
    };
    add(winePrefixEnv.isEmpty() ? home + QStringLiteral("/.wine") : winePrefixEnv);
    const QDir games(home + QStringLiteral("/Games"));
    for (const QFileInfo& dir : games.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        add(dir.filePath());
}

} // namespace

QString PrefixKindName(PrefixKind kind)
{
    switch (kind) {
    case PrefixKind::Lutris:
        return QStringLiteral("Lutris");
    case PrefixKind::Bottles:
        return QStringLiteral("Bottles");
    case PrefixKind::Proton:
        return QStringLiteral("Steam");
    case PrefixKind::Plain:
        break;
    }
    return QStringLiteral("Wine");
}

QList<WinePrefix> FindWinePrefixes(const QString& home, const QString& winePrefixEnv)
{
    QList<WinePrefix> found;
    findLutris(home, found);
    findBottles(home + QStringLiteral("/.local/share/bottles"), false, found);
    findBottles(home + QStringLiteral("/.var/app/") + kFlatpakBottles + QStringLiteral("/data/bottles"), true,
                found);
    findProton(home, found);
    findPlain(home, winePrefixEnv, found);

    // Managers come first, so a manager's game wins over its folder seen as a plain prefix.
    QList<WinePrefix> unique;
    QStringList seen;
    for (const WinePrefix& p : found) {
        const QString id = identity(p.path);
        if (seen.contains(id))
            continue;
        seen.append(id);
        unique.append(p);
    }
    return unique;
}

QList<WinePrefix> FindWinePrefixes()
{
    return FindWinePrefixes(homeDir(), qEnvironmentVariable("WINEPREFIX"));
}

std::optional<WinePrefix> PrefixContaining(const QList<WinePrefix>& prefixes, const QString& path)
{
    const QString target = identity(path);
    std::optional<WinePrefix> best;
    qsizetype bestLength = -1;
    for (const WinePrefix& p : prefixes) {
        const QString root = identity(p.path);
        for (const QString& sub : {QStringLiteral("/drive_c/"), QStringLiteral("/dosdevices/")}) {
            if (target.startsWith(root + sub) && root.size() > bestLength) {
                best = p;
                bestLength = root.size();
            }
        }
    }
    return best;
}

QString FindInPath(const QString& program, const QString& path)
{
    for (const QString& dir : path.split(u':', Qt::SkipEmptyParts)) {
        const QFileInfo candidate(dir + u'/' + program);
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return {};
}

LaunchCommand CommandForExe(const WinePrefix& prefix, const QString& exe, const QStringList& arguments)
{
    const QString path = qEnvironmentVariable("PATH");
    LaunchCommand cmd;
    const auto throughWine = [&](const QString& runner) {
        cmd.program = runner.isEmpty() ? FindInPath(QStringLiteral("wine"), path) : runner;
        cmd.arguments = QStringList{exe} + arguments;
        cmd.environment.insert(QStringLiteral("WINEPREFIX"), prefix.path);
        if (cmd.program.isEmpty() || !QFileInfo(cmd.program).isExecutable())
            cmd.missing = runner.isEmpty() ? QStringLiteral("wine") : runner;
    };

    switch (prefix.kind) {
    case PrefixKind::Lutris: {
        // The id starts the game exactly as the user set it up, but takes no arguments.
        const QString lutris = FindInPath(QStringLiteral("lutris"), path);
        if (!prefix.gameId.isEmpty() && arguments.isEmpty() && !lutris.isEmpty()
            && identity(exe) == identity(prefix.gameExe)) {
            cmd.program = lutris;
            cmd.arguments = {QStringLiteral("lutris:rungameid/") + prefix.gameId};
            return cmd;
        }
        throughWine(prefix.runner);
        return cmd;
    }
    case PrefixKind::Bottles: {
        QStringList run{QStringLiteral("run"), QStringLiteral("-b"), prefix.name, QStringLiteral("-e"), exe};
        if (!arguments.isEmpty())
            run << QStringLiteral("-a") << arguments.join(u' ');
        if (prefix.flatpak) {
            cmd.program = FindInPath(QStringLiteral("flatpak"), path);
            cmd.arguments = QStringList{QStringLiteral("run"), QStringLiteral("--command=bottles-cli"),
                                        kFlatpakBottles}
                + run;
            if (cmd.program.isEmpty())
                cmd.missing = QStringLiteral("flatpak");
        } else {
            cmd.program = FindInPath(QStringLiteral("bottles-cli"), path);
            cmd.arguments = run;
            if (cmd.program.isEmpty())
                cmd.missing = QStringLiteral("bottles-cli");
        }
        return cmd;
    }
    case PrefixKind::Proton: {
        const QString proton = prefix.runner.isEmpty() ? QString()
                                                       : prefix.runner + QStringLiteral("/proton");
        cmd.program = proton;
        cmd.arguments = QStringList{QStringLiteral("run"), exe} + arguments;
        cmd.environment.insert(QStringLiteral("STEAM_COMPAT_DATA_PATH"), QFileInfo(prefix.path).path());
        cmd.environment.insert(QStringLiteral("STEAM_COMPAT_CLIENT_INSTALL_PATH"), prefix.steamRoot);
        if (proton.isEmpty() || !QFileInfo(proton).isFile())
            cmd.missing = proton.isEmpty() ? QStringLiteral("Proton") : proton;
        return cmd;
    }
    case PrefixKind::Plain:
        break;
    }
    throughWine(QString());
    return cmd;
}

} // namespace platform
