#include "archive/targetfolders.h"

#include "archive/entryname.h"
#include "archive/staging.h"

#include <vector>

namespace archive {

void TargetFolders::SetBase(const QString& nativeBase)
{
    Forget();
    m_base = nativeBase;
}

void TargetFolders::Forget()
{
    m_baseFolder = platform::Folder();
    m_last = platform::Folder();
    m_lastKey.clear();
    m_haveLast = false;
    m_lastIsBase = false;
}

const platform::Folder* TargetFolders::Reach(const QString& folder, platform::FsError* error, bool* reused)
{
    if (reused)
        *reused = false;
    if (m_haveLast && folder == m_lastKey) {
        if (reused)
            *reused = true;
        return m_lastIsBase ? &m_baseFolder : &m_last;
    }
    m_haveLast = false;
    if (!m_baseFolder.IsValid()) {
        m_baseFolder = platform::Folder::Open(m_base, true, error);
        if (!m_baseFolder.IsValid())
            return nullptr;
    }

    std::vector<platform::Folder> levels;
    QStringList names;
    for (const QStringView level : PathLevels(folder)) {
        // Cleaned names keep ".." only as their last level; it goes back up, never past the base.
        if (level == u"..") {
            if (!levels.empty()) {
                levels.pop_back();
                names.removeLast();
            }
            continue;
        }
        const platform::Folder& parent = levels.empty() ? m_baseFolder : levels.back();
        bool created = false;
        platform::Folder next = parent.Sub(level.toString(), true, error, &created);
        if (!next.IsValid())
            return nullptr;
        levels.push_back(std::move(next));
        names.append(level.toString());
        if (created && m_journal)
            m_journal->AddFolder(names.join(u'/'));
    }
    if (error)
        *error = platform::FsError::None;
    m_lastKey = folder;
    m_haveLast = true;
    m_lastIsBase = levels.empty();
    if (m_lastIsBase)
        return &m_baseFolder;
    m_last = std::move(levels.back());
    return &m_last;
}

} // namespace archive
