#include "launcher.h"

#include "paths.h"
#include "registry.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStandardPaths>

namespace platform {
namespace {

Q_LOGGING_CATEGORY(lcLaunch, "yfzs.install", QtCriticalMsg)

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
    return head == "\x7f" "ELF" || head.startsWith("#!");
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
    auto started = [&target](bool ok) {
        if (!ok)
            qCWarning(lcLaunch) << "could not start anything for" << target;
        return ok ? OpenOutcome::Started : OpenOutcome::Failed;
    };
    const QString opener = QStringLiteral("xdg-open");
    // "http://…", "mailto:…": a scheme of two or more letters, so "C:\…" stays a path.
    static const QRegularExpression address(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (address.match(target).hasMatch())
        return started(startDetached(opener, {target}));

    const QFileInfo file(DosPathToNative(target));
    if (!file.exists()) {
        qCWarning(lcLaunch) << "nothing to open at" << target;
        return OpenOutcome::NotFound;
    }
    const QString path = file.absoluteFilePath();
    if (file.isFile() && isWindowsProgram(file)) {
        if (!WineAvailable()) {
            qCWarning(lcLaunch) << "no wine on PATH for" << path;
            return OpenOutcome::WineMissing;
        }
        return started(startDetached(QStringLiteral("wine"), {path}, true));
    }
    if (isNativeProgram(file))
        return started(startDetached(path, {}));
    return started(startDetached(opener, {path}));
}

bool WineAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("wine")).isEmpty();
}

QString WineMissingMessage()
{
    return QStringLiteral("无法启动 Windows 程序：本机没有安装 Wine。\n"
                          "穿越火线和它的工具需要 Wine 才能在 Linux 上运行。\n"
                          "Debian / Ubuntu 上请在终端运行：\n"
                          "sudo dpkg --add-architecture i386 && sudo apt update && sudo apt install wine wine32\n"
                          "安装完成后再试一次。");
}

} // namespace platform
