#include "urlscheme.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace platform {
namespace {

QString homeFolder(const char* variable, const char* fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1String(fallback);
}

QString entryName(const QString& scheme)
{
    return QStringLiteral("yfzs-") + scheme + QStringLiteral(".desktop");
}

QString entryPath(const QString& scheme)
{
    return homeFolder("XDG_DATA_HOME", "/.local/share") + QStringLiteral("/applications/") + entryName(scheme);
}

QString mimeAppsPath()
{
    return homeFolder("XDG_CONFIG_HOME", "/.config") + QStringLiteral("/mimeapps.list");
}

// Quoting of the desktop-entry Exec key: the path in double quotes, with ", `, $ and \ escaped.
QString execLine(const QString& executable)
{
    QString quoted;
    for (QChar c : executable) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    // The key's own escape level doubles every backslash once more.
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    // A lone "%" would be read as a field code and the path cut apart: "%%" stands for one.
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + QStringLiteral("\" %u");
}

QStringList readLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n');
}

bool writeLines(const QString& path, QStringList lines)
{
    while (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write((lines.join(u'\n') + u'\n').toUtf8());
    return f.commit();
}

QString keyValue(const QStringList& lines, const QString& section, const QString& key)
{
    bool inSection = false;
    for (const QString& line : lines) {
        const QString t = line.trimmed();
        if (t.startsWith(u'['))
            inSection = t == u'[' + section + u']';
        else if (inSection && t.startsWith(key + u'='))
            return t.mid(key.size() + 1);
    }
    return {};
}

// Sets key=value in [section] of a desktop-style key file, keeping every other line.
bool setKeyValue(const QString& path, const QString& section, const QString& key, const QString& value)
{
    QStringList lines = readLines(path);
    qsizetype sectionLine = -1, insertAt = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString t = lines[i].trimmed();
        if (t.startsWith(u'[')) {
            if (sectionLine >= 0)
                break;
            if (t == u'[' + section + u']')
                sectionLine = insertAt = i;
            continue;
        }
        if (sectionLine < 0)
            continue;
        if (t.startsWith(key + u'=')) {
            lines[i] = key + u'=' + value;
            return writeLines(path, lines);
        }
        if (!t.isEmpty())
            insertAt = i;
    }
    if (sectionLine < 0) {
        if (!lines.isEmpty() && !lines.back().isEmpty())
            lines << QString();
        lines << u'[' + section + u']' << key + u'=' + value;
    } else {
        lines.insert(insertAt + 1, key + u'=' + value);
    }
    return writeLines(path, lines);
}

} // namespace

QString RegisteredUrlSchemeCommand(const QString& scheme)
{
    return keyValue(readLines(entryPath(scheme)), QStringLiteral("Desktop Entry"), QStringLiteral("Exec"));
}

void RegisterUrlScheme(const QString& scheme, const QString& executable, const QString& displayName)
{
    const QString mime = QStringLiteral("x-scheme-handler/") + scheme;
    const QString exec = execLine(executable);
    const bool entryCurrent = RegisteredUrlSchemeCommand(scheme) == exec;
    const bool defaultCurrent = keyValue(readLines(mimeAppsPath()), QStringLiteral("Default Applications"), mime)
                                    .split(u';')
                                    .contains(entryName(scheme));
    if (entryCurrent && defaultCurrent)
        return;

    if (!entryCurrent) {
        const QStringList entry{
            QStringLiteral("[Desktop Entry]"),
            QStringLiteral("Type=Application"),
            QStringLiteral("Name=") + displayName,
            QStringLiteral("Exec=") + exec,
            QStringLiteral("MimeType=") + mime + u';',
            QStringLiteral("NoDisplay=true"),
            QStringLiteral("Terminal=false"),
        };
        if (!writeLines(entryPath(scheme), entry))
            return;
    }
    if (!defaultCurrent)
        setKeyValue(mimeAppsPath(), QStringLiteral("Default Applications"), mime, entryName(scheme) + u';');
}

} // namespace platform
