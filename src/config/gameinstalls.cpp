#include "config/gameinstalls.h"

#include "config/locator.h"
#include "platform/registry.h"

#include <QDir>
#include <QFileInfo>

namespace config {

namespace {

constexpr qsizetype kMaxPath = 259; // a Windows path without its terminator

// 32-bit programs in a 64-bit prefix write HKEY_LOCAL_MACHINE\Software under Wow6432Node.
const char16_t* const kInstallKeys[] = {u"Software\\Tencent\\CrossFire",
                                        u"Software\\Wow6432Node\\Tencent\\CrossFire"};

// Where the game's installer puts it unless told otherwise, relative to drive_c.
const char* const kKnownFolders[] = {
    "Program Files/Tencent/CrossFire",
    "Program Files (x86)/Tencent/CrossFire",
    "Program Files/穿越火线",
    "Program Files (x86)/穿越火线",
    "Tencent/CrossFire",
    "CrossFire",
    "穿越火线",
    "Games/CrossFire",
};

QString registryFolder(const platform::WinePrefix& prefix)
{
    for (const char16_t* key : kInstallKeys) {
        const platform::RegistryString value = platform::RegistryLookup(platform::kLocalMachine, key,
                                                                        u"InstallPath", prefix.path);
        if (value.text && !value.text->isEmpty() && value.text->size() <= kMaxPath)
            return platform::DosPathToNative(*value.text, prefix.path);
    }
    return {};
}

} // namespace

bool IsGameInstallValue(int root, const QString& subKey, const QString& valueName)
{
    if (root != platform::kLocalMachine || valueName.compare(u"InstallPath", Qt::CaseInsensitive) != 0)
        return false;
    QString key = subKey;
    key.replace(u'/', u'\\');
    while (key.startsWith(u'\\'))
        key.remove(0, 1);
    while (key.endsWith(u'\\'))
        key.chop(1);
    for (const char16_t* known : kInstallKeys) {
        if (key.compare(QString::fromUtf16(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QList<GameInstall> FindGameInstalls(const QList<platform::WinePrefix>& prefixes)
{
    QList<GameInstall> installs;
    QStringList seen;
    const auto add = [&](const QString& folder, const platform::WinePrefix& prefix, bool fromRegistry) {
        const QString id = QFileInfo(folder).canonicalFilePath();
        if (id.isEmpty() || seen.contains(id))
            return;
        seen.append(id);
        installs.append({QDir::cleanPath(folder),
                         platform::PrefixKindName(prefix.kind) + QStringLiteral(" · ") + prefix.name,
                         fromRegistry});
    };
    for (const platform::WinePrefix& prefix : prefixes) {
        const QString fromRegistry = registryFolder(prefix);
        if (!fromRegistry.isEmpty()) {
            // A registry entry left behind by a deleted game is no install.
            if (QFileInfo(fromRegistry).isDir())
                add(fromRegistry, prefix, true);
            else
                qCWarning(lcPrefix) << "InstallPath names a missing folder" << fromRegistry << "in"
                                    << prefix.path;
            continue;
        }
        for (const char* known : kKnownFolders) {
            const QString folder = prefix.path + QStringLiteral("/drive_c/") + QString::fromUtf8(known);
            if (HasGameMarker(folder))
                add(folder, prefix, false);
        }
    }
    return installs;
}

QList<GameInstall> FindGameInstalls()
{
    return FindGameInstalls(platform::FindWinePrefixes());
}

} // namespace config
