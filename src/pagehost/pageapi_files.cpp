// Page API: settings files, file operations, the registry and folder lookup. Each reports
// failure through its result only and shows nothing.
#include "pagehost/htmlctrl.h"

#include "config/inifile.h"
#include "pagehost/pagelog.h"
#include "platform/nativepaths.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <filesystem>
#include <system_error>

using pagehost::lcPage;

namespace {

// The settings functions read into a buffer of 8192 units: longer values come back cut.
constexpr int kConfigCapacity = 8192;

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(path.toStdU16String());
}

bool isFile(const QFileInfo& info)
{
    return info.exists() && !info.isDir();
}

// A name beside `target` for staging, so the final step is one rename in the same folder.
QString stagingName(const QString& target)
{
    const QFileInfo info(target);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + u'.'
        + QUuid::createUuid().toString(QUuid::Id128).left(12);
}

// Copies `source` to `target` through a staged copy, so a failed copy never leaves `target`
// half written, and an existing `target` is replaced in one step.
bool copyReplacing(const QString& source, const QString& target)
{
    const QString staged = stagingName(target);
    QFile in(source);
    if (!in.copy(staged)) {
        qCWarning(lcPage) << "cannot copy" << source << "to" << target << ":" << in.errorString();
        return false;
    }
    std::error_code error;
    std::filesystem::rename(fsPath(staged), fsPath(target), error);
    if (error) {
        qCWarning(lcPage) << "cannot put the copy in place at" << target << ":" << error.message().c_str();
        QFile::remove(staged);
        return false;
    }
    return true;
}

} // namespace

QString CHtmlCtrl::GetConfigString(const QString& section, const QString& key, const QString& file)
{
    return ReadIniString(file, section, key, QString(), kConfigCapacity);
}

int CHtmlCtrl::SetConfigString(const QString& section, const QString& key, const QString& value,
                               const QString& file)
{
    if (WriteIniString(file, section, key, value))
        return 1;
    qCWarning(lcPage) << "SetConfigString refused:" << file << section << key;
    return 0;
}

int CHtmlCtrl::DeleteFile(const QString& path)
{
    const QString native = platform::NativePath(path);
    const QFileInfo info(native);
    if (!info.isSymLink() && !isFile(info)) {
        qCWarning(lcPage) << "DeleteFile: no file at" << native;
        return 0; // a missing file, or a folder
    }
    QFile file(native);
    if (file.remove())
        return 1;
    qCWarning(lcPage) << "DeleteFile: cannot remove" << native << ":" << file.errorString();
    return 0;
}

int CHtmlCtrl::CopyFile(const QString& source, const QString& target)
{
    const QString from = platform::NativePath(source);
    const QString to = platform::NativePath(target);
    const QFileInfo in(from);
    const QFileInfo out(to);
    if (!isFile(in) || out.isDir()) {
        qCWarning(lcPage) << "CopyFile: no source file at" << from << "or a folder at" << to;
        return 0;
    }
    if (out.exists() && in.canonicalFilePath() == out.canonicalFilePath()) {
        qCWarning(lcPage) << "CopyFile: source and target are one file:" << from;
        return 0; // copying a file onto itself fails, as it does on Windows
    }
    return copyReplacing(from, to) ? 1 : 0;
}

int CHtmlCtrl::MoveFile(const QString& source, const QString& target)
{
    const QString from = platform::NativePath(source);
    const QString to = platform::NativePath(target);
    const QFileInfo in(from);
    const QFileInfo out(to);
    // An existing target file is replaced, but only once the source is known to be there:
    // a move that cannot happen must not cost the page its target file.
    if (!in.exists() && !in.isSymLink()) {
        qCWarning(lcPage) << "MoveFile: nothing at" << from;
        return 0;
    }
    if (out.isDir() && !out.isSymLink()) {
        qCWarning(lcPage) << "MoveFile: a folder is in the way at" << to;
        return 0;
    }
    if (out.exists() && in.canonicalFilePath() == out.canonicalFilePath()) {
        qCWarning(lcPage) << "MoveFile: source and target are one file:" << from;
        return 0;
    }

    std::error_code error;
    if (!in.isDir()) {
        std::filesystem::rename(fsPath(from), fsPath(to), error); // replaces a file in one step
        if (!error)
            return 1;
        if (error != std::errc::cross_device_link) {
            qCWarning(lcPage) << "MoveFile: cannot move" << from << "to" << to << ":"
                              << error.message().c_str();
            return 0;
        }
        // Another file system: copy (staged, replacing), then remove the source.
        if (!copyReplacing(from, to))
            return 0;
        QFile source(from);
        if (!source.remove()) // the move happened; only the original stays behind
            qCWarning(lcPage) << "MoveFile: copied, but cannot remove" << from << ":" << source.errorString();
        return 1;
    }

    // A folder onto a file: put the file aside, move, and bring it back if the move fails.
    QString aside;
    if (out.exists() || out.isSymLink()) {
        aside = stagingName(to);
        std::filesystem::rename(fsPath(to), fsPath(aside), error);
        if (error) {
            qCWarning(lcPage) << "MoveFile: cannot put aside" << to << ":" << error.message().c_str();
            return 0;
        }
    }
    std::filesystem::rename(fsPath(from), fsPath(to), error);
    if (error) {
        qCWarning(lcPage) << "MoveFile: cannot move folder" << from << "to" << to << ":"
                          << error.message().c_str();
        if (!aside.isEmpty()) {
            std::filesystem::rename(fsPath(aside), fsPath(to), error);
            if (error)
                qCWarning(lcPage) << "MoveFile: cannot bring back" << to << "from" << aside << ":"
                                  << error.message().c_str();
        }
        return 0;
    }
    if (!aside.isEmpty() && !QFile::remove(aside))
        qCWarning(lcPage) << "MoveFile: the replaced file stays at" << aside;
    return 1;
}

QString CHtmlCtrl::GetFilePath(const QString& path)
{
    const QString native = platform::NativePath(path);
    const qsizetype cut = native.lastIndexOf(u'/');
    const QString folder = cut >= 0 ? native.left(cut + 1) : QString();
    const QString name = cut >= 0 ? native.mid(cut + 1) : native;
    if (name.isEmpty()) {
        qCWarning(lcPage) << "GetFilePath: no file name in" << native;
        return QString(); // a path ending in a separator names no file to find
    }

    bool found = false;
    if (name.contains(u'*') || name.contains(u'?')) {
        const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
        found = !dir.entryList({name}, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                     .isEmpty();
        // "*" and "*.*" also find the folder's own "." entry.
        if (!found && (name == u"*" || name == u"*.*"))
            found = dir.exists();
    } else {
        const QFileInfo info(native);
        found = info.exists() || info.isSymLink();
    }
    if (!found)
        qCWarning(lcPage) << "GetFilePath: nothing found at" << native;
    return found ? folder : QString();
}
