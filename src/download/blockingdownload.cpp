#include "download/blockingdownload.h"

#include "download/downloadlog.h"

#include <QFile>
#include <QFileInfo>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace download {

namespace {

struct Outcome
{
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int status = kDownloadFailed;
    quint64 expected = 0; // total size of the final report, 0 if unknown
};

} // namespace

bool DownloadToFile(const QString& address, const QString& targetPath, const DownloadProgress& progress,
                    const PauseWatch* cancel)
{
    // The engine appends; a fresh download starts from an empty file.
    if (QFileInfo::exists(targetPath) && !QFile::remove(targetPath)) {
        qCWarning(lcDownload).noquote() << "cannot replace" << targetPath;
        return false;
    }

    // Shared with the worker, which may still be leaving the lock when this call returns.
    const auto outcome = std::make_shared<Outcome>();
    auto report = [outcome, &progress](int status, const DownloadTask& task) {
        if (status == kDownloadChunk) {
            if (progress)
                progress(task.startOffset + task.received, task.totalSize);
            return;
        }
        std::lock_guard<std::mutex> locker(outcome->lock);
        outcome->status = status;
        outcome->expected = task.totalSize;
        outcome->done = true;
        outcome->finished.notify_one();
    };
    if (!StartDownload(address, targetPath, 0, report, cancel))
        return false;

    std::unique_lock<std::mutex> locker(outcome->lock);
    outcome->finished.wait(locker, [&outcome] { return outcome->done; });
    if (outcome->status != kDownloadComplete)
        return false; // the engine has logged why
    // The engine checks the same before it reports complete; this guards the file's path too.
    const quint64 size = quint64(QFileInfo(targetPath).size());
    if (outcome->expected != 0 && size != outcome->expected) {
        qCWarning(lcDownload).noquote() << targetPath << "holds" << size << "bytes of" << outcome->expected;
        return false;
    }
    return true;
}

} // namespace download
