// Page API: settings files, file operations, the registry and folder lookup. Each reports
// failure through its result only and shows nothing.
#include "htmlctrl.h"

#include "inifile.h"
#include "paths.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <filesystem>
#include <system_error>

namespace {

// The settings functions read into a buffer of 8192 units: longer values come back cut.
constexpr int kConfigCapacity = 8192;

std::filesystem::path FsPath(const QString& path)
{
    return std::filesystem::path(path.toStdU16String());
}

bool IsFile(const QFileInfo& info)
{
    return info.exists() && !info.isDir();
}

// A name beside `target` for staging, so the final step is one rename in the same folder.
QString StagingName(const QString& target)
{
    const QFileInfo info(target);
    return info.absolutePath() + QStringLiteral("/.")
        + info.fileName() + u'.' + QUuid::createUuid().toString(QUuid::Id128).left(12);
}

// Copies `source` to `target` through a staged copy, so a failed copy never leaves `target`
// half written, and an existing `target` is replaced in one step.
bool CopyReplacing(const QString& source, const QString& target)
{
    const QString staged = StagingName(target);
    if (!QFile::copy(source, staged))
        return false;
    std::error_code error;
    std::filesystem::rename(FsPath(staged), FsPath(target), error);
    if (error) {
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
    return WriteIniString(file, section, key, value) ? 1 : 0;
}

int CHtmlCtrl::DeleteFile(const QString& path)
{
    const QString native = platform::NativePath(path);
    const QFileInfo info(native);
    if (!info.isSymLink() && !IsFile(info))
        return 0; // a missing file, or a folder
    return QFile::remove(native) ? 1 : 0;
}

int CHtmlCtrl::CopyFile(const QString& source, const QString& target)
{
    const QString from = platform::NativePath(source);
    const QString to = platform::NativePath(target);
    const QFileInfo in(from);
    const QFileInfo out(to);
    if (!IsFile(in) || out.isDir())
        return 0;
    if (out.exists() && in.canonicalFilePath() == out.canonicalFilePath())
        return 0; // copying a file onto itself fails, as it does on Windows
    return CopyReplacing(from, to) ? 1 : 0;
}

int CHtmlCtrl::MoveFile(const QString& source, const QString& target)
{
    const QString from = platform::NativePath(source);
    const QString to = platform::NativePath(target);
    const QFileInfo in(from);
    const QFileInfo out(to);
    // An existing target file is replaced, but only once the source is known to be there:
    // a move that cannot happen must not cost the page its target file.
    if (!in.exists() && !in.isSymLink())
        return 0;
    if (out.isDir() && !out.isSymLink())
        return 0;
    if (out.exists() && in.canonicalFilePath() == out.canonicalFilePath())
        return 0;

    std::error_code error;
    if (!in.isDir()) {
        std::filesystem::rename(FsPath(from), FsPath(to), error); // replaces a file in one step
        if (!error)
            return 1;
        if (error != std::errc::cross_device_link)
            return 0;
        // Another file system: copy (staged, replacing), then remove the source.
        if (!CopyReplacing(from, to))
            return 0;
        QFile::remove(from);
        return 1;
    }

    // A folder onto a file: put the file aside, move, and bring it back if the move fails.
    QString aside;
    if (out.exists() || out.isSymLink()) {
        aside = StagingName(to);
        std::filesystem::rename(FsPath(to), FsPath(aside), error);
        if (error)
            return 0;
    }
    std::filesystem::rename(FsPath(from), FsPath(to), error);
    if (error) {
        if (!aside.isEmpty())
            std::filesystem::rename(FsPath(aside), FsPath(to), error);
        return 0;
    }
    if (!aside.isEmpty())
        QFile::remove(aside);
    return 1;
}

QString CHtmlCtrl::GetFilePath(const QString& path)
{
    const QString native = platform::NativePath(path);
    const qsizetype cut = native.lastIndexOf(u'/');
    const QString folder = cut >= 0 ? native.left(cut + 1) : QString();
    const QString name = cut >= 0 ? native.mid(cut + 1) : native;
    if (name.isEmpty())
        return QString(); // a path ending in a separator names no file to find

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
    return found ? folder : QString();
}
