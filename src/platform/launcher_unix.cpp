#include "launcher.h"

#include "paths.h"
#include "prefixfinder.h"
#include "registry.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStandardPaths>

namespace platform {
namespace {

Q_LOGGING_CATEGORY(lcLaunch, "yfzs.launch", QtCriticalMsg)

bool startDetached(const QString& program, const QStringList& arguments, bool inWinePrefix = false)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (inWinePrefix) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), WinePrefixDir());
        process.setProcessEnvironment(env);
    }
    return process.startDetached(); // no working directory set: the child inherits ours
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

OpenOutcome startWindowsProgram(const QString& path)
{
    const std::optional<WinePrefix> prefix = PrefixContaining(FindWinePrefixes(), path);
    if (!prefix) {
        if (!WineAvailable()) {
            qCWarning(lcLaunch) << "no wine on PATH for" << path;
            return OpenOutcome::WineMissing;
        }
        return started(startDetached(QStringLiteral("wine"), {path}, true), path);
    }
    const LaunchCommand command = CommandForExe(*prefix, path, {});
    if (!command.missing.isEmpty()) {
        // A manager's runner or program that is gone is the same dead end for the user as no Wine.
        qCWarning(lcLaunch) << "cannot start" << path << "- missing" << command.missing;
        return OpenOutcome::WineMissing;
    }
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = command.environment.cbegin(); it != command.environment.cend(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    return started(process.startDetached(), path);
}

} // namespace

bool OpenWithShell(const QString& target)
{
    return OpenTarget(target) == OpenOutcome::Started;
}

OpenOutcome OpenTarget(const QString& target)
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
        return startWindowsProgram(path);
    if (isNativeProgram(file))
        return started(startDetached(path, {}), target);
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

} // namespace platform
