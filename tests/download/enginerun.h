#pragma once
// Runs one engine task from a test and records every report it makes, so tests can wait for
// the end and look at the chunks.

#include "download/httpdownload.h"

#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct Report
{
    int status;
    quint64 received;
    quint64 startOffset;
    quint64 totalSize;
};

// Everything one task reported, filled in on the engine's threads.
struct Run
{
    std::mutex lock;
    std::condition_variable changed;
    QList<Report> reports;
    int finals = 0;
    std::thread::id finalThread;
    std::function<void(const Report&)> onChunk;

    int Final();
    QList<Report> Chunks();
};

std::shared_ptr<Run> Start(const QString& url, const QString& path, int* started,
                           const download::PauseWatch* watch = nullptr,
                           std::function<void(const Report&)> onChunk = {}, quint64 expectedTotal = 0);

// Waits up to 20 s for the final report.
bool WaitFinal(Run& run);

// Starts, waits for the end and answers the final status (0 when not started or no end).
int Download(const QString& url, const QString& path, std::shared_ptr<Run>* out = nullptr,
             quint64 expectedTotal = 0);
