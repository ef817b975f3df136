#pragma once
// The tool page's download jobs: one process-wide table that ties the page's job identifiers
// to running downloads of the HTTP engine, turns the engine's per-chunk reports into
// whole-number percentages, and hands each report to the page through a PageProgressSink.
//
// The page API methods DownloadFile and PauseDownload call straight into this module on the
// user-interface thread. Reports come from the engine's worker threads (and from the
// user-interface thread itself when a request cannot be set up inside DownloadFile).

#include "download/httpdownload.h"

#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

namespace download {

// The page's side of the reports: implemented by the browser view, which calls the page's
// global script function OnDownloadProgress(status, idHigh, idLow, percent).
//
// Contract for implementers:
// - InvokePageProgress is called from download worker threads, one call at a time per job,
//   possibly from several jobs at once. The implementation carries the call to the page's
//   (user-interface) thread, runs the page function there with the four integers in this
//   order, and returns only after it has returned; the worker waits meanwhile.
// - It may also be called on the user-interface thread itself, during DownloadFile, when a
//   request cannot be set up (status -1). It must then call the page directly: waiting for
//   its own thread would deadlock.
// - No lock of this module is held during the call, so the page function may call
//   DownloadFile / PauseDownload again (a DownloadFile for the job being reported still finds
//   it downloading and returns 0, even on its final report).
// - A page without OnDownloadProgress, or no page at all: do nothing and return.
// status: 1 progress (percent 0..100, only when it changed), 2 complete (100),
//         -1 failed (0), -100 paused (0).
class PageProgressSink
{
public:
    virtual ~PageProgressSink() = default;
    virtual void InvokePageProgress(int status, int idHigh, int idLow, int percent) = 0;
};

// Registers where reports go (null: nowhere; downloads still run and the table stays current).
// The table keeps a reference, so a sink being used by a worker stays alive until that call
// returns; a sink whose page is gone must simply do nothing.
void SetPageProgressSink(std::shared_ptr<PageProgressSink> sink);

// Job identifier from the page's two signed halves, high first: high × 2^32 + low, with low
// taken as signed, so (0, -1) is the identifier whose halves are both -1.
qint64 MakeJobId(qint32 idHigh, qint32 idLow);
qint32 JobIdHigh(qint64 jobId);
qint32 JobIdLow(qint64 jobId);

enum DownloadJobState : qint32 {
    kJobDownloading = 1,
    kJobComplete = kDownloadComplete,
    kJobFailed = kDownloadFailed,
    kJobPaused = kDownloadPaused,
};

} // namespace download

// One table entry. Entries are never removed, so the pause request stays at one address for
// the whole run and serves as the engine's pause watch.
struct DownloadJob
{
    qint32 state = download::kJobDownloading;
    qint64 totalSize = 0;                 // from the last progress report
    qint64 bytesDone = 0;                 // start offset + received, from the last progress report
    qint32 lastPercent = -1;              // last percentage sent to the page
    download::PauseWatch pauseRequest{0}; // 0 none, kPauseRequested asked for
    QString target;                       // the file of the last run; a run into another file knows no total
};

// Starts or resumes the job into GetProgramDir() + "Downloads/" + fileName ('\' and '/' in the
// name name sub-folders, which must exist). 1 started; 0 when the job is already downloading
// (nothing else happens) or the download could not start (file not openable): the job is
// then marked failed so that a later call can try again. A resumed job hands the engine the
// total its last run into the same file was told, so a resource that changed meanwhile fails
// instead of being appended to the old part. A name that is absolute or has a ".." level
// would land outside Downloads/: it is refused with 0, no table entry and no report.
int DownloadFile(const QString& address, const QString& fileName, qint32 idHigh, qint32 idLow);

// Asks the job to stop at the engine's next notification; 1 when the job exists, else 0.
// The request stays until DownloadFile restarts the job.
int PauseDownload(qint32 idHigh, qint32 idLow);

// The engine's owner callback for page jobs.
void OnDownloadReport(int status, const DownloadTask& task);

namespace download {

// A copy of the job's entry, if the table has one.
struct DownloadJobSnapshot
{
    qint32 state;
    qint64 totalSize;
    qint64 bytesDone;
    qint32 lastPercent;
    qint32 pauseRequest;
};
std::optional<DownloadJobSnapshot> FindDownloadJob(qint64 jobId);

} // namespace download
