#pragma once
// The folders an extraction writes into: every level below the base folder is opened through
// the one above it and never through a link, so nothing already in the destination can send a
// write outside it. The folder of the latest file stays open for the next files in it.

#include "platform/confinedfiles.h"

#include <QString>

namespace archive {

class Staging;

class TargetFolders
{
public:
    // The base itself is the caller's choice and may be reached through links; a missing last
    // level of it is made on first use.
    void SetBase(const QString& nativeBase);

    // Where the folders this object makes are noted, so that a failed unpack can remove them.
    void SetJournal(Staging* journal) { m_journal = journal; }

    // Opens `folder` (levels separated by '\' or '/', relative to the base), making missing
    // levels. Null with the reason when a level cannot be had; `reused` tells whether the
    // answer is the folder kept from an earlier call, which may have been removed since.
    const platform::Folder* Reach(const QString& folder, platform::FsError* error, bool* reused = nullptr);

    // Closes what is kept open, so that the next Reach opens every level again.
    void Forget();

private:
    QString m_base;
    platform::Folder m_baseFolder;
    platform::Folder m_last;
    QString m_lastKey;
    bool m_haveLast = false;
    bool m_lastIsBase = false;
    Staging* m_journal = nullptr;
};

} // namespace archive
