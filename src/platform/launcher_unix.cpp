#include "platform/launcher.h"

#include "platform/nativepaths.h"
#include "platform/prefixfinder.h"
#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace platform {
namespace {

Q_LOGGING_CATEGORY(lcLaunch, "yfzs.launch", QtCriticalMsg)

// How long a Windows program is watched: Wine reports a prefix or loader it cannot use at once.
constexpr int kWatchMs = 8000;
constexpr int kPollMs = 200;

bool startDetached(const QString& program, const QStringList& arguments, const QString& workingFolder = {})
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!workingFolder.isEmpty())
        process.setWorkingDirectory(workingFolder);
    return process.startDetached();
}

// Watches one started program through the files its wrapper writes: its error output, and its
// exit code once it has ended. Deletes itself, and the files, when the watch is over.
class ExitWatch : public QObject
{
public:
    ExitWatch(std::unique_ptr<QTemporaryDir> dir, EarlyExitHandler handler)
        : m_dir(std::move(dir))
        , m_handler(std::move(handler))
    {
        connect(&m_timer, &QTimer::timeout, this, &ExitWatch::Poll);
        m_timer.start(kPollMs);
    }

private:
    void Poll()
    {
        m_waited += kPollMs;
        QFile code(m_dir->filePath(QStringLiteral("code")));
        if (code.open(QIODevice::ReadOnly)) {
            bool ok = false;
            const int exitCode = code.readAll().trimmed().toInt(&ok);
            QFile err(m_dir->filePath(QStringLiteral("err")));
            const QByteArray output = err.open(QIODevice::ReadOnly) ? err.read(1 << 20) : QByteArray();
            if (ok && exitCode != 0) {
                qCWarning(lcLaunch) << "the program ended at once with" << exitCode << output.right(400);
                m_handler(DescribeEarlyExit(exitCode, output));
            }
            Finish();
        } else if (m_waited >= kWatchMs) {
            Finish();
        }
    }

    void Finish()
    {
        m_timer.stop();
        deleteLater();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    EarlyExitHandler m_handler;
    QTimer m_timer;
    int m_waited = 0;
};

// Starts `program` detached in `workingFolder`; with a handler through a small shell wrapper
// that keeps its error output and exit code where an ExitWatch looks for them (quietly
// nowhere once the watch is over and its folder gone).
bool startWatched(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
                  const QString& workingFolder, const EarlyExitHandler& onEarlyExit)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingFolder);
    std::unique_ptr<QTemporaryDir> dir;
    if (onEarlyExit)
        dir = std::make_unique<QTemporaryDir>();
    if (dir && dir->isValid()) {
        process.setProgram(QStringLiteral("/bin/sh"));
        process.setArguments(
            QStringList{
                QStringLiteral("-c"),
                QStringLiteral("d=\"$1\"; shift; \"$0\" \"$@\" 2>\"$d/err\"; "
                               "{ echo $? >\"$d/code.tmp\" && mv \"$d/code.tmp\" \"$d/code\"; } 2>/dev/null"),
                program, dir->path()}
            + arguments);
    } else {
        process.setProgram(program);
        process.setArguments(arguments);
    }
    if (!process.startDetached())
        return false;
    if (dir && dir->isValid())
        new ExitWatch(std::move(dir), onEarlyExit);
    return true;
}

// The player's words for a runner or manager that a prefix needs and that is gone.
QString runnerMissingMessage(const WinePrefix& prefix, const QString& missing)
{
    if (missing == u"flatpak")
        return QStringLiteral(
                   "无法启动游戏：游戏在 Bottles（Flatpak 版）的瓶子“%1”里，但本机找不到 flatpak。\n"
                   "请安装 flatpak 和 Flatpak 版 Bottles（sudo apt install flatpak），再试一次。")
            .arg(prefix.name);
    if (missing == u"bottles-cli")
        return QStringLiteral(
                   "无法启动游戏：游戏在 Bottles 的瓶子“%1”里，但本机找不到 Bottles（bottles-cli）。\n"
                   "请重新安装 Bottles，再试一次。")
            .arg(prefix.name);
    switch (prefix.kind) {
    case PrefixKind::Lutris:
        return QStringLiteral("无法启动游戏：Lutris 为游戏“%1”选定的 Wine 版本已不存在：\n%2\n"
                              "请在 Lutris 里为这个游戏重新选择 Wine 版本，再试一次。")
            .arg(prefix.name, missing);
    case PrefixKind::Proton:
        return QStringLiteral("无法启动游戏：Steam 为它选定的 Proton 已不存在：\n%1\n"
                              "请在 Steam 里重新安装这个 Proton 版本，再试一次。")
            .arg(missing);
    default:
        return WineMissingMessage();
    }
}

bool isWindowsProgram(const QFileInfo& file)
{
    static const QStringList suffixes{QStringLiteral("exe"), QStringLiteral("bat"), QStringLiteral("cmd"),
                                      QStringLiteral("com")};
    return suffixes.contains(file.suffix(), Qt::CaseInsensitive);
}

// An executable bit alone is no proof: files on FAT and NTFS mounts often carry it.
bool isNativeProgram(const QFileInfo& file)
{
    if (!file.isFile() || !file.isExecutable())
        return false;
    QFile f(file.filePath());
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(4);
    return head
        == "\x7f"
           "ELF"
        || head.startsWith("#!");
}

// A Windows program starts the way its prefix expects: through its game manager or the manager's
// own Wine build; one outside every known prefix runs in the default prefix with `wine`.
OpenOutcome started(bool ok, const QString& target)
{
    if (!ok)
        qCWarning(lcLaunch) << "could not start anything for" << target;
    return ok ? OpenOutcome::Started : OpenOutcome::Failed;
}

OpenOutcome startWindowsProgram(const QString& path, QString* problem, const EarlyExitHandler& onEarlyExit,
                                const DefaultPrefixConfirm& confirm)
{
    const QString folder = QFileInfo(path).absolutePath();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const std::optional<WinePrefix> prefix = PrefixContaining(FindWinePrefixes(), path);
    if (!prefix) {
        if (!WineAvailable()) {
            qCWarning(lcLaunch) << "no wine on PATH for" << path;
            if (problem)
                *problem = WineMissingMessage();
            return OpenOutcome::WineMissing;
        }
        const QString fallback = WinePrefixDir();
        const bool made = QFileInfo(fallback + QStringLiteral("/drive_c")).isDir();
        if (confirm) {
            QString question =
                QStringLiteral("%1 不在任何已知的 Wine 前缀（Lutris、Bottles、Steam 或 Wine 的前缀）里。\n"
                               "要在默认的 Wine 前缀 %2 中启动它吗？")
                    .arg(QDir::toNativeSeparators(path), fallback);
            if (!made)
                question += QStringLiteral("\n这个前缀还不存在，Wine 会先新建它。");
            if (!confirm(question))
                return OpenOutcome::Declined;
        } else if (!made) {
            qCWarning(lcLaunch) << "not making a new prefix at" << fallback << "for" << path;
            if (problem)
                *problem = QStringLiteral("%1 不在任何已知的 Wine 前缀里，而默认的 Wine 前缀 %2 还不存在。\n"
                                          "请在游戏所在的 Wine 前缀里选择游戏目录。")
                               .arg(QDir::toNativeSeparators(path), fallback);
            return OpenOutcome::NoPrefix;
        }
        env.insert(QStringLiteral("WINEPREFIX"), fallback);
        return started(startWatched(QStringLiteral("wine"), {path}, env, folder, onEarlyExit), path);
    }
    const LaunchCommand command = CommandForExe(*prefix, path, {});
    if (!command.missing.isEmpty()) {
        qCWarning(lcLaunch) << "cannot start" << path << "- missing" << command.missing;
        if (command.missing == u"wine") {
            if (problem)
                *problem = WineMissingMessage();
            return OpenOutcome::WineMissing;
        }
        if (problem)
            *problem = runnerMissingMessage(*prefix, command.missing);
        return OpenOutcome::RunnerMissing;
    }
    for (auto it = command.environment.cbegin(); it != command.environment.cend(); ++it)
        env.insert(it.key(), it.value());
    return started(startWatched(command.program, command.arguments, env, folder, onEarlyExit), path);
}

} // namespace

bool OpenWithShell(const QString& target)
{
    return OpenTarget(target) == OpenOutcome::Started;
}

OpenOutcome OpenTarget(const QString& target, QString* problem, const EarlyExitHandler& onEarlyExit,
                       const DefaultPrefixConfirm& confirm)
{
    if (target.isEmpty())
        return OpenOutcome::NotFound;
    const QString opener = QStringLiteral("xdg-open");
    // "http://…", "mailto:…": a scheme of two or more letters, so "C:\…" stays a path.
    static const QRegularExpression address(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (address.match(target).hasMatch())
        return started(startDetached(opener, {target}), target);

    const QFileInfo file(DosPathToNative(target));
    if (!file.exists()) {
        qCWarning(lcLaunch) << "nothing to open at" << target;
        return OpenOutcome::NotFound;
    }
    const QString path = file.absoluteFilePath();
    if (file.isFile() && isWindowsProgram(file))
        return startWindowsProgram(path, problem, onEarlyExit, confirm);
    if (isNativeProgram(file))
        return started(startDetached(path, {}, file.absolutePath()), target);
    return started(startDetached(opener, {path}), target);
}

bool WineAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("wine")).isEmpty();
}

QString WineMissingMessage()
{
    return QStringLiteral(
        "无法启动 Windows 程序：本机没有安装 Wine。\n"
        "穿越火线和它的工具需要 Wine 才能在 Linux 上运行。\n"
        "Debian / Ubuntu 上请在终端运行：\n"
        "sudo dpkg --add-architecture i386 && sudo apt update && sudo apt install wine wine32\n"
        "安装完成后再试一次。");
}

QString DescribeEarlyExit(int code, const QByteArray& errorOutput)
{
    // Debian's and Ubuntu's wine without the i386 half: the loader names the missing 32-bit part.
    static const QRegularExpression noWow64(
        QStringLiteral("load_wow64_ntdll|wine32 is missing|Bad EXE format|cannot execute binary file|"
                       "wow64.*not (found|supported)"),
        QRegularExpression::CaseInsensitiveOption);
    if (noWow64.match(QString::fromLocal8Bit(errorOutput)).hasMatch())
        return QStringLiteral(
            "无法启动游戏：本机的 Wine 不能运行 32 位 Windows 程序（没有安装 32 位 Wine）。\n"
            "Debian / Ubuntu 上请在终端运行：\n"
            "sudo dpkg --add-architecture i386 && sudo apt update && sudo apt install wine32\n"
            "安装完成后再试一次。");
    QStringList lines;
    for (const QByteArray& line : errorOutput.split('\n')) {
        // Wine's "fixme:" notes are about unfinished features, not why a program ended.
        if (!line.trimmed().isEmpty() && !line.contains("fixme:"))
            lines.append(QString::fromLocal8Bit(line.trimmed()));
    }
    QString message = QStringLiteral("游戏启动后立即退出了（退出码 %1）。").arg(code);
    if (!lines.isEmpty())
        message += QStringLiteral("\nWine 的报错：\n")
            + lines.mid(qMax<qsizetype>(0, lines.size() - 5)).join(u'\n');
    return message;
}

} // namespace platform
