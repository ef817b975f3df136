#pragma once
// The HTTP download engine: fetches one http:// or https:// address into one local file in the
// background, always appending to what the file already holds (a range request asks only for
// the bytes after it), and tells its owner about every chunk written and about the end.
// It knows nothing of the page; the download-job table and the blocking download build on it.
//
// A download is reported complete only when the file is what the server said it would be: a
// range answer must start at the file's end and agree with its own length and total, a 416
// must state the file's length, and a body in any content coding but identity is refused.
// The target is created only once a 2xx answer arrives, so a refused answer leaves no file
// (or the earlier part exactly as it was). Reasons for failures go to "yfzs.download".
//
// https peers are verified against the system's store plus the vendor CA (config::trust: the
// build's YFZS_CA_FILE or the QX77_CA_FILE named at run time).

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>

namespace download {

// Status codes passed to the owner callback. All but kDownloadChunk are final: the task is
// destroyed as soon as the callback returns.
enum DownloadStatus : int {
    kDownloadChunk = 1,    // a chunk has been written; received / start offset / total are current
    kDownloadComplete = 2, // the server has no more data
    kDownloadFailed = -1,
    kDownloadPaused = -100, // the pause watch held kPauseRequested at a notification
};

// The value of a pause watch that asks the engine to stop.
constexpr qint32 kPauseRequested = -100;
using PauseWatch = std::atomic<qint32>;

} // namespace download

// What a report shows of a running download. Only the engine creates and destroys tasks; the
// owner sees one only during a callback and must not keep it.
class DownloadTask
{
public:
    quint64 received = 0;    // body bytes of the current response
    quint64 startOffset = 0; // file length when the transfer started: the first byte asked for
    quint64 totalSize = 0;   // the whole file's size: start offset + content length, or the
                             // total a range answer states; 0 when the length is unknown
    qint64 jobId = 0;        // the owner's key, passed through unchanged

protected:
    DownloadTask() = default;
    ~DownloadTask() = default;
    Q_DISABLE_COPY_MOVE(DownloadTask)
};

namespace download {

// Called on the task's worker thread for every report, and on the caller's thread of
// StartDownload when the request cannot be set up (kDownloadFailed only). One task gets
// exactly one final code. The target file is already closed when a final code arrives.
using DownloadCallback = std::function<void(int status, const DownloadTask& task)>;

} // namespace download

// Starts downloading address into targetPath and returns at once: 1 when started (its end
// will be reported), 0 when it could not start at all (file not openable, or missing in a
// folder that is not writable, or already being written by another task, no HTTP session);
// no callback is made for 0.
// An address that is not http(s), longer than 4,096 characters or with a host longer than 256
// is reported as kDownloadFailed before this returns 1. pauseWatch may be null; when given it
// must outlive the task. The file is never truncated by a start and never deleted; only a
// resumed request answered with a whole body (200) makes the file start again from empty.
// expectedTotal, when not 0, is the total an earlier run of the same job was told: a range
// answer (206 or 416) stating another total means the resource changed, and fails.
int StartDownload(const QString& address, const QString& targetPath, qint64 jobId,
                  download::DownloadCallback callback, const download::PauseWatch* pauseWatch,
                  quint64 expectedTotal = 0);

namespace download {

// Number of tasks started and not yet destroyed (for shutdown and tests).
int RunningDownloadCount();

} // namespace download
