#include "enginerun.h"

int Run::Final()
{
    std::lock_guard<std::mutex> locker(lock);
    return reports.isEmpty() ? 0 : reports.last().status;
}

QList<Report> Run::Chunks()
{
    std::lock_guard<std::mutex> locker(lock);
    QList<Report> out;
    for (const Report& r : reports) {
        if (r.status == download::kDownloadChunk)
            out.append(r);
    }
    return out;
}

std::shared_ptr<Run> Start(const QString& url, const QString& path, int* started,
                           const download::PauseWatch* watch, std::function<void(const Report&)> onChunk,
                           quint64 expectedTotal)
{
    auto run = std::make_shared<Run>();
    run->onChunk = std::move(onChunk);
    *started = StartDownload(
        url, path, 42,
        [run](int status, const DownloadTask& task) {
            const Report r{status, task.received, task.startOffset, task.totalSize};
            if (status == download::kDownloadChunk && run->onChunk)
                run->onChunk(r);
            std::lock_guard<std::mutex> locker(run->lock);
            run->reports.append(r);
            if (status != download::kDownloadChunk) {
                ++run->finals;
                run->finalThread = std::this_thread::get_id();
            }
            run->changed.notify_all();
        },
        watch, expectedTotal);
    return run;
}

bool WaitFinal(Run& run)
{
    std::unique_lock<std::mutex> locker(run.lock);
    return run.changed.wait_for(locker, std::chrono::seconds(20), [&run] { return run.finals > 0; });
}

int Download(const QString& url, const QString& path, std::shared_ptr<Run>* out, quint64 expectedTotal)
{
    int started = 0;
    auto run = Start(url, path, &started, nullptr, {}, expectedTotal);
    if (!started || !WaitFinal(*run))
        return 0;
    if (out)
        *out = run;
    return run->Final();
}
