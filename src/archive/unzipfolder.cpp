#include "archive/unzipfolder.h"

#include "archive/archivelog.h"
#include "archive/extractplan.h"
#include "archive/staging.h"
#include "archive/zipreader.h"
#include "platform/confinedfiles.h"
#include "platform/folderchain.h"
#include "platform/nativepaths.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace archive {
namespace {

struct Listed
{
    ZipEntryInfo info;
    ZipEntryLocation where;
};

UnzipError fromResult(ZipReader::Result result)
{
    switch (result) {
    case ZipReader::Result::Ok:
        return UnzipError::None;
    case ZipReader::Result::BadArguments:
    case ZipReader::Result::CannotCreateFile:
        return UnzipError::CannotCreate;
    case ZipReader::Result::Password:
        return UnzipError::Password;
    case ZipReader::Result::CorruptData:
        return UnzipError::CorruptData;
    case ZipReader::Result::WriteError:
        return UnzipError::WriteError;
    case ZipReader::Result::LinkInPath:
        return UnzipError::LinkInPath;
    case ZipReader::Result::NoSpace:
        return UnzipError::DiskFull;
    }
    return UnzipError::CorruptData;
}

const char* describe(UnzipError error)
{
    switch (error) {
    case UnzipError::None:
        return "no error";
    case UnzipError::BadArguments:
        return "bad arguments";
    case UnzipError::NotAnArchive:
        return "not a readable ZIP archive";
    case UnzipError::OverlappingEntries:
        return "entries overlap each other's data";
    case UnzipError::DiskFull:
        return "not enough free space";
    case UnzipError::CannotCreate:
        return "cannot create a file or folder";
    case UnzipError::LinkInPath:
        return "a link lies in the way";
    case UnzipError::Password:
        return "encrypted entry";
    case UnzipError::CorruptData:
        return "corrupt data";
    case UnzipError::WriteError:
        return "write error";
    }
    return "?";
}

// True when no two entries share a byte of the archive: each entry's local header and data
// must end before the next one in the file begins. Entries whose local header cannot be read
// are left out; they fail when they are unpacked.
bool entriesAreDisjoint(const std::vector<Listed>& entries)
{
    std::vector<std::pair<qint64, qint64>> spans;
    spans.reserve(entries.size());
    for (const Listed& e : entries) {
        if (e.where.start >= 0)
            spans.emplace_back(e.where.start, qMax(e.where.end, e.where.start + 1));
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second)
            return false;
    }
    return true;
}

// Writes its share of the entries through a reader of its own. The first failure anywhere
// stops every worker before its next entry.
class Workers
{
public:
    Workers(const std::vector<Listed>& entries, const QList<QList<int>>& groups)
        : m_entries(entries)
        , m_groups(groups)
    {
    }

    void Run(ZipReader& reader)
    {
        for (;;) {
            const qsizetype group = m_nextGroup.fetch_add(1);
            if (group >= m_groups.size())
                return;
            for (int index : m_groups[group]) {
                if (m_stop.load(std::memory_order_relaxed))
                    return;
                const Listed& entry = m_entries[size_t(index)];
                const ZipReader::Result result = reader.ExtractListed(entry.info, entry.where,
                                                                      entry.info.name);
                if (result != ZipReader::Result::Ok) {
                    Fail(index, result);
                    return;
                }
            }
        }
    }

    // The failure of the earliest entry in archive order, of those that failed.
    std::pair<int, ZipReader::Result> Failure() const { return {m_failedIndex, m_failure}; }

private:
    void Fail(int index, ZipReader::Result result)
    {
        m_stop.store(true);
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failedIndex < 0 || index < m_failedIndex) {
            m_failedIndex = index;
            m_failure = result;
        }
    }

    const std::vector<Listed>& m_entries;
    const QList<QList<int>>& m_groups;
    std::atomic<qsizetype> m_nextGroup{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    int m_failedIndex = -1;
    ZipReader::Result m_failure = ZipReader::Result::Ok;
};

// The levels of `folder` that do not exist yet, the deepest first: what a failed unpack removes
// again above the destination.
QStringList missingLevels(const QString& folder)
{
    QStringList missing;
    QString path = QDir::cleanPath(platform::NativePath(folder));
    while (!path.isEmpty() && path != u"/" && !QFileInfo::exists(path)) {
        missing.append(path);
        const qsizetype cut = path.lastIndexOf(u'/');
        path = cut > 0 ? path.left(cut) : QString();
    }
    return missing;
}

void removeLevels(const QStringList& levels)
{
    for (const QString& level : levels) {
        if (!QDir().rmdir(level))
            qCWarning(lcArchive) << "cannot remove the folder" << level;
    }
}

UnzipError fail(UnzipError error, const QString& archive, const QString& detail = QString())
{
    qCWarning(lcArchive).noquote() << "cannot unpack" << archive << ":" << describe(error) << detail;
    return error;
}

} // namespace

UnzipError UnzipArchive(const QString& archivePath, const QString& destinationFolder,
                        const UnzipOptions& options)
{
    if (destinationFolder.isEmpty() || archivePath.isEmpty())
        return fail(UnzipError::BadArguments, archivePath);
    if (!QFileInfo::exists(platform::NativePath(archivePath)))
        return fail(UnzipError::BadArguments, archivePath, QStringLiteral("(no such file)"));
    std::unique_ptr<ZipReader> reader = ZipReader::Open(archivePath);
    if (!reader)
        return fail(UnzipError::NotAnArchive, archivePath);
    const std::optional<int> count = reader->EntryCount();
    if (!count)
        return fail(UnzipError::NotAnArchive, archivePath);

    // The whole archive is looked at before the first byte is written.
    std::vector<Listed> entries;
    entries.reserve(size_t(*count));
    qint64 unpackedBytes = 0;
    for (int i = 0; i < *count; ++i) {
        std::optional<ZipEntryInfo> info = reader->GetEntry(i);
        std::optional<ZipEntryLocation> where = reader->GetLocation(i);
        if (!info || !where)
            return fail(UnzipError::CorruptData, archivePath, QStringLiteral("(entry %1 unreadable)").arg(i));
        if (!(info->attributes & attributes::kDirectory))
            unpackedBytes = AddSizes(unpackedBytes, info->uncompressedSize);
        entries.push_back({std::move(*info), *where});
    }
    if (!entriesAreDisjoint(entries))
        return fail(UnzipError::OverlappingEntries, archivePath);
    const qint64 available = platform::AvailableBytes(platform::NativePath(destinationFolder));
    if (available >= 0 && unpackedBytes > available) {
        return fail(UnzipError::DiskFull, archivePath,
                    QStringLiteral("(%1 bytes needed, %2 free)").arg(unpackedBytes).arg(available));
    }

    const QStringList madeAbove = missingLevels(destinationFolder);
    if (!IsExistingFolder(destinationFolder)) {
        // With a trailing separator this prepares the destination itself, without one only
        // its parent; the last level then comes with the first entry.
        const qsizetype last = qMax(destinationFolder.lastIndexOf(u'\\'),
                                    destinationFolder.lastIndexOf(u'/'));
        if (last > 0 && !CreateFolderChain(destinationFolder.left(last))) {
            removeLevels(madeAbove);
            return fail(UnzipError::CannotCreate, archivePath, destinationFolder);
        }
    }
    Staging staging;
    reader->SetBaseFolder(destinationFolder);
    reader->SetStaging(&staging);

    int workers = options.workers > 0 ? options.workers : QThread::idealThreadCount();
    if (unpackedBytes < options.parallelFrom || entries.size() < 2)
        workers = 1;
    QList<QList<int>> groups;
    if (workers == 1) {
        // In archive order: the first entry that fails is the last one touched.
        groups.append(QList<int>());
        for (int i = 0; i < *count; ++i)
            groups[0].append(i);
    } else {
        QList<PlanEntry> plan;
        plan.reserve(*count);
        for (const Listed& e : entries)
            plan.append(
                {e.info.name, bool(e.info.attributes & attributes::kDirectory), e.info.compressedSize});
        groups = PlanExtraction(plan);
        workers = int(qMin<qsizetype>(workers, groups.size()));
    }

    std::vector<std::unique_ptr<ZipReader>> readers;
    for (int i = 1; i < workers; ++i) {
        std::unique_ptr<ZipReader> other = reader->Reopen();
        if (!other)
            break;
        other->SetBaseFolder(destinationFolder);
        other->SetStaging(&staging);
        readers.push_back(std::move(other));
    }
    Workers pool(entries, groups);
    std::vector<std::thread> threads;
    threads.reserve(readers.size());
    for (std::unique_ptr<ZipReader>& other : readers) {
        // A thread that cannot be had (no memory, a process limit) leaves its share to the
        // others: the groups are handed out one at a time.
        try {
            threads.emplace_back([&pool, &other] { pool.Run(*other); });
        } catch (const std::system_error& e) {
            qCWarning(lcArchive) << "unpacking with fewer threads:" << e.what();
            break;
        }
    }
    pool.Run(*reader);
    for (std::thread& t : threads)
        t.join();
    readers.clear();

    TargetFolders folders;
    folders.SetBase(platform::NativePath(reader->BaseFolder()));
    auto [failedIndex, result] = pool.Failure();
    if (failedIndex >= 0)
        staging.Undo(folders);
    else
        result = staging.Commit(folders, &failedIndex);
    if (failedIndex >= 0) {
        reader.reset();
        folders.Forget();
        removeLevels(madeAbove);
        return fail(fromResult(result), archivePath,
                    QStringLiteral("at ") + entries[size_t(failedIndex)].info.name);
    }
    return UnzipError::None;
}

const char* DescribeUnzipError(UnzipError error)
{
    return describe(error);
}

} // namespace archive

bool UnzipArchiveToFolder(const QString& archivePath, const QString& destinationFolder)
{
    return archive::UnzipArchive(archivePath, destinationFolder) == archive::UnzipError::None;
}
