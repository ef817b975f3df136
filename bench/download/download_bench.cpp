// download_bench <folder> <url>...: downloads every address at once with the engine into
// <folder>/engine-<i>; exits 0 when all completed. The `run` script measures it.
#include "download/httpdownload.h"

#include <QString>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: download_bench <folder> <url>...\n");
        return 2;
    }
    std::mutex lock;
    std::condition_variable changed;
    int pending = argc - 2;
    int failed = 0;
    for (int i = 2; i < argc; ++i) {
        const QString target = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/engine-")
            + QString::number(i - 2);
        const int started = StartDownload(
            QString::fromLocal8Bit(argv[i]), target, i,
            [&](int status, const DownloadTask&) {
                if (status == download::kDownloadChunk)
                    return;
                std::lock_guard<std::mutex> locker(lock);
                failed += status != download::kDownloadComplete;
                --pending;
                changed.notify_all();
            },
            nullptr);
        if (!started) {
            std::fprintf(stderr, "could not start %s\n", argv[i]);
            return 1;
        }
    }
    std::unique_lock<std::mutex> locker(lock);
    changed.wait(locker, [&] { return pending == 0; });
    locker.unlock();
    while (download::RunningDownloadCount() > 0) // let the workers leave before the process does
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return failed == 0 ? 0 : 1;
}
