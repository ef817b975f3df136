#include "platform/urlscheme.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace platform {
namespace {

Q_LOGGING_CATEGORY(lcScheme, "yfzs.install", QtCriticalMsg)

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
    return homeFolder("XDG_DATA_HOME", "/.local/share") + QStringLiteral("/applications/")
        + entryName(scheme);
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

// The program file an Exec line starts: its first word, unquoted, looked up the way the desktop
// would (PATH), or beside the entry's share/ folder ("/usr/share/applications" → "/usr/bin").
QStringList execCandidates(const QString& exec, const QString& dataDir)
{
    QString program = exec.trimmed();
    if (program.startsWith(u'"')) {
        program = program.mid(1, program.indexOf(u'"', 1) - 1);
        program.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    } else {
        program = program.section(u' ', 0, 0);
    }
    if (program.isEmpty())
        return {};
    if (QDir::isAbsolutePath(program))
        return {program};
    return {QStandardPaths::findExecutable(program), dataDir + QStringLiteral("/../bin/") + program};
}

// The launcher entry a package installed for this very executable and scheme, as a desktop-file
// name ("YFZS.desktop"), or empty. Only the system data folders count: an entry in the user's
// own folder is one this program may have written itself.
QString packagedEntry(const QString& scheme, const QString& executable)
{
    const QString wanted = QFileInfo(executable).canonicalFilePath();
    if (wanted.isEmpty())
        return {};
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    const QString name = DesktopFileId() + QStringLiteral(".desktop");
    const QString group = QStringLiteral("Desktop Entry");
    for (const QString& dir : dirs.split(u':', Qt::SkipEmptyParts)) {
        if (!QDir::isAbsolutePath(dir))
            continue;
        const QStringList lines = readLines(dir + QStringLiteral("/applications/") + name);
        if (lines.isEmpty())
            continue;
        const QStringList types = keyValue(lines, group, QStringLiteral("MimeType")).split(u';');
        if (!types.contains(QStringLiteral("x-scheme-handler/") + scheme))
            continue;
        for (const QString& candidate : execCandidates(keyValue(lines, group, QStringLiteral("Exec")), dir)) {
            if (!candidate.isEmpty() && QFileInfo(candidate).canonicalFilePath() == wanted)
                return name;
        }
    }
    return {};
}

// The desktop entries mimeapps.list names as the scheme's handlers, first choice first.
QStringList defaultHandlers(const QString& scheme)
{
    return keyValue(readLines(mimeAppsPath()), QStringLiteral("Default Applications"),
                    QStringLiteral("x-scheme-handler/") + scheme)
        .split(u';');
}

} // namespace

QString DesktopFileId()
{
    return QStringLiteral("YFZS");
}

QString UrlSchemeDefaultEntry(const QString& scheme)
{
    return defaultHandlers(scheme).value(0);
}

QString RegisteredUrlSchemeCommand(const QString& scheme)
{
    return keyValue(readLines(entryPath(scheme)), QStringLiteral("Desktop Entry"), QStringLiteral("Exec"));
}

void RegisterUrlScheme(const QString& scheme, const QString& executable, const QString& displayName)
{
    const QString mime = QStringLiteral("x-scheme-handler/") + scheme;
    const QString packaged = packagedEntry(scheme, executable);
    if (!packaged.isEmpty()) {
        if (UrlSchemeDefaultEntry(scheme) != packaged
            && !setKeyValue(mimeAppsPath(), QStringLiteral("Default Applications"), mime, packaged + u';'))
            qCWarning(lcScheme) << "cannot make" << packaged << "the default in" << mimeAppsPath();
        return;
    }
    const QString exec = execLine(executable);
    const bool entryCurrent = RegisteredUrlSchemeCommand(scheme) == exec;
    const bool defaultCurrent = defaultHandlers(scheme).contains(entryName(scheme));
    if (entryCurrent && defaultCurrent)
        return;

    if (!entryCurrent) {
        const QStringList entry{
            QStringLiteral("[Desktop Entry]"),         QStringLiteral("Type=Application"),
            QStringLiteral("Name=") + displayName,     QStringLiteral("Exec=") + exec,
            QStringLiteral("MimeType=") + mime + u';', QStringLiteral("NoDisplay=true"),
            QStringLiteral("Terminal=false"),
        };
        if (!writeLines(entryPath(scheme), entry)) {
            qCWarning(lcScheme) << "cannot write" << entryPath(scheme);
            return;
        }
    }
    if (!defaultCurrent
        && !setKeyValue(mimeAppsPath(), QStringLiteral("Default Applications"), mime,
                        entryName(scheme) + u';'))
        qCWarning(lcScheme) << "cannot set the default in" << mimeAppsPath();
}

} // namespace platform
