#include "launcher.h"

#include "paths.h"
#include "prefixfinder.h"
#include "registry.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace platform {
namespace {

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

// A Windows program starts the way its prefix expects: through its game manager or the manager's
// own Wine build; one outside every known prefix runs in the default prefix with `wine`.
bool startWindowsProgram(const QString& path)
{
    const std::optional<WinePrefix> prefix = PrefixContaining(FindWinePrefixes(), path);
    if (!prefix)
        return startDetached(QStringLiteral("wine"), {path}, true);
    const LaunchCommand command = CommandForExe(*prefix, path, {});
    if (!command.missing.isEmpty()) {
        qCWarning(lcPrefix) << "cannot start" << path << "- missing" << command.missing;
        return false;
    }
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = command.environment.cbegin(); it != command.environment.cend(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    return process.startDetached();
}

} // namespace

bool OpenWithShell(const QString& target)
{
    if (target.isEmpty())
        return false;
    const QString opener = QStringLiteral("xdg-open");
    // "http://…", "mailto:…": a scheme of two or more letters, so "C:\…" stays a path.
    static const QRegularExpression address(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (address.match(target).hasMatch())
        return startDetached(opener, {target});

    const QFileInfo file(DosPathToNative(target));
    if (!file.exists())
        return false;
    const QString path = file.absoluteFilePath();
    if (file.isFile() && isWindowsProgram(file))
        return startWindowsProgram(path);
    if (isNativeProgram(file))
        return startDetached(path, {});
    return startDetached(opener, {path});
}

} // namespace platform
