#include "download/downloadjobs.h"

#include "config/programdir.h"
#include "download/downloadlog.h"
#include "platform/folderchain.h"
#include "platform/nativepaths.h"

#include <QMutex>

#include <memory>
#include <unordered_map>

namespace download {

namespace {

// One lock for the table, never held across StartDownload or a page call: StartDownload may
// report back on this thread, and the page call waits for the user-interface thread, which
// may itself be waiting for this lock.
struct JobTable
{
    QMutex lock;
    std::unordered_map<qint64, std::unique_ptr<DownloadJob>> jobs;
};

JobTable& jobTable()
{
    static JobTable table;
    return table;
}

struct SinkSlot
{
    QMutex lock;
    std::shared_ptr<PageProgressSink> sink;
};

SinkSlot& sinkSlot()
{
    static SinkSlot slot;
    return slot;
}

std::shared_ptr<PageProgressSink> currentSink()
{
    SinkSlot& slot = sinkSlot();
    QMutexLocker locker(&slot.lock);
    return slot.sink;
}

// Whether `fileName` names a file inside Downloads/: relative, and no ".." level after either
// separator. A drive ("C:") counts as absolute, as it does where the program came from.
bool staysInDownloads(const QString& fileName)
{
    if (fileName.isEmpty() || fileName.startsWith(u'/') || fileName.startsWith(u'\\'))
        return false;
    if (fileName.size() >= 2 && fileName.at(1) == u':' && fileName.at(0).isLetter())
        return false;
    for (const QStringView level : QStringView(fileName).tokenize(u'/')) {
        for (const QStringView part : level.tokenize(u'\\')) {
            if (part == u"..")
                return false;
        }
    }
    return true;
}

} // namespace

void SetPageProgressSink(std::shared_ptr<PageProgressSink> sink)
{
    SinkSlot& slot = sinkSlot();
    QMutexLocker locker(&slot.lock);
    slot.sink = std::move(sink);
}

qint64 MakeJobId(qint32 idHigh, qint32 idLow)
{
    // Unsigned arithmetic wraps where the signed sum would overflow (high -2^31, low < 0).
    return qint64((quint64(quint32(idHigh)) << 32) + quint64(qint64(idLow)));
}

qint32 JobIdHigh(qint64 jobId)
{
    return qint32(quint32(quint64(jobId) >> 32));
}

qint32 JobIdLow(qint64 jobId)
{
    return qint32(quint32(quint64(jobId)));
}

} // namespace download

int DownloadFile(const QString& address, const QString& fileName, qint32 idHigh, qint32 idLow)
{
    if (!download::staysInDownloads(fileName)) {
        qCWarning(download::lcDownload).noquote()
            << "download name refused, it leaves Downloads/:" << fileName;
        return 0;
    }
    const qint64 id = download::MakeJobId(idHigh, idLow);
    const QString folder = GetProgramDir() + QStringLiteral("Downloads");
    const QString target = platform::NativePath(folder + platform::Separator() + fileName);
    download::JobTable& table = download::jobTable();
    DownloadJob* job = nullptr;
    quint64 expectedTotal = 0;
    {
        QMutexLocker locker(&table.lock);
        auto it = table.jobs.find(id);
        if (it == table.jobs.end()) {
            it = table.jobs.emplace(id, std::make_unique<DownloadJob>()).first;
        } else {
            if (it->second->state == download::kJobDownloading)
                return 0;
            it->second->state = download::kJobDownloading;
            it->second->bytesDone = 0;
            it->second->pauseRequest.store(0);
            if (it->second->target == target)
                expectedTotal = quint64(qMax<qint64>(it->second->totalSize, 0));
            else
                it->second->totalSize = 0;
        }
        job = it->second.get();
        job->target = target;
    }

    CreateFolderChain(folder);
    const int started = StartDownload(address, target, id, &OnDownloadReport, &job->pauseRequest,
                                      expectedTotal);
    if (!started) {
        // Nothing will ever report for this run; leaving the job "downloading" would refuse
        // every later attempt for the rest of the run.
        QMutexLocker locker(&table.lock);
        job->state = download::kJobFailed;
    }
    return started;
}

int PauseDownload(qint32 idHigh, qint32 idLow)
{
    download::JobTable& table = download::jobTable();
    QMutexLocker locker(&table.lock);
    const auto it = table.jobs.find(download::MakeJobId(idHigh, idLow));
    if (it == table.jobs.end())
        return 0;
    it->second->pauseRequest.store(download::kPauseRequested);
    return 1;
}

void OnDownloadReport(int status, const DownloadTask& task)
{
    download::JobTable& table = download::jobTable();
    DownloadJob* job = nullptr;
    qint32 lastPercent = -1;
    {
        QMutexLocker locker(&table.lock);
        const auto it = table.jobs.find(task.jobId);
        if (it == table.jobs.end())
            return;
        job = it->second.get();
        lastPercent = job->lastPercent;
    }

    const qint64 total = qint64(task.totalSize);
    const qint64 done = qint64(task.startOffset + task.received);
    bool call = false;
    int value = 0;
    switch (status) {
    case download::kDownloadChunk:
        // With no known length there is no percentage; the page hears only the end.
        if (total > 0) {
            value = int(done * 100 / total);
            call = value != lastPercent;
        }
        break;
    case download::kDownloadComplete:
        value = 100;
        call = true;
        break;
    case download::kDownloadFailed:
    case download::kDownloadPaused:
        call = true;
        break;
    default:
        return;
    }

    if (call) {
        if (const auto sink = download::currentSink())
            sink->InvokePageProgress(status, download::JobIdHigh(task.jobId), download::JobIdLow(task.jobId),
                                     value);
    }

    QMutexLocker locker(&table.lock);
    job->state = status;
    if (status == download::kDownloadChunk) {
        job->totalSize = total;
        job->bytesDone = done;
        if (call)
            job->lastPercent = value;
    }
}

namespace download {

std::optional<DownloadJobSnapshot> FindDownloadJob(qint64 jobId)
{
    JobTable& table = jobTable();
    QMutexLocker locker(&table.lock);
    const auto it = table.jobs.find(jobId);
    if (it == table.jobs.end())
        return std::nullopt;
    const DownloadJob& job = *it->second;
    return DownloadJobSnapshot{job.state, job.totalSize, job.bytesDone, job.lastPercent,
                               job.pauseRequest.load()};
}

} // namespace download
