#include "platform/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace platform {
namespace {

QString configHome()
{
    // XDG base directories must be absolute; a relative value counts as unset.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    const QString home = qEnvironmentVariable("HOME");
    return (home.isEmpty() ? QDir::homePath() : home) + QStringLiteral("/.config");
}

// The string escapes of a desktop-entry value.
QString entryValue(const QString& text)
{
    QString value;
    for (QChar c : text) {
        if (c == u'\\')
            value.append(QStringLiteral("\\\\"));
        else if (c == u'\n')
            value.append(QStringLiteral("\\n"));
        else if (c == u'\t')
            value.append(QStringLiteral("\\t"));
        else if (c == u'\r')
            value.append(QStringLiteral("\\r"));
        else
            value.append(c);
    }
    return value;
}

// One argument of an Exec line: quoted when it holds a reserved character, with the quoting
// escapes, "%" doubled for field codes, then the string escapes of a desktop-entry value.
QString execArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = argument.isEmpty();
    for (QChar c : argument)
        quote = quote || reserved.contains(c);
    QString quoted;
    for (QChar c : argument) {
        if (quote && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            quoted.append(u'\\');
        quoted.append(c);
        if (c == u'%')
            quoted.append(u'%');
    }
    if (quote)
        quoted = u'"' + quoted + u'"';
    return entryValue(quoted);
}

} // namespace

QString AutostartEntryPath(const QString& name)
{
    return configHome() + QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

bool SetAutostart(const QString& name, const QString& program)
{
    const QString path = AutostartEntryPath(name);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // TryExec: once the program is gone (the package removed, the folder deleted) the session
    // skips the entry instead of failing to start it at every login.
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=%1\n"
                                         "TryExec=%2\n"
                                         "Exec=%3\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(name, entryValue(program), execArgument(program));
    file.write(entry.toUtf8());
    return file.commit();
}

bool RemoveAutostart(const QString& name)
{
    const QString path = AutostartEntryPath(name);
    return !QFileInfo::exists(path) || QFile::remove(path);
}

bool HasAutostart(const QString& name)
{
    return QFileInfo::exists(AutostartEntryPath(name));
}

} // namespace platform
