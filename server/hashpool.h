#pragma once
// A small pool of threads for password hashing, kept off the network threads so that a slow
// hash never holds up other connections. The queue is bounded and served in turn per peer,
// so one address flooding logins waits behind itself, not in front of everybody else.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class HashPool
{
public:
    struct Config
    {
        int threads = 0;             // 0: one per processor core
        std::size_t maxQueued = 256; // waiting jobs, all peers together
        std::size_t maxPerPeer = 16; // waiting jobs of one peer
    };

    explicit HashPool(Config config);
    ~HashPool();
    HashPool(const HashPool&) = delete;
    HashPool& operator=(const HashPool&) = delete;

    // Queues `job`; false when the queue is full for this peer or for everybody.
    bool Submit(const std::string& peer, std::function<void()> job);
    // Lets running jobs finish and drops the queued ones uncalled.
    void Stop();

private:
    void Work();

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::unordered_map<std::string, std::deque<std::function<void()>>> m_queues;
    std::deque<std::string> m_turns; // peers with queued jobs, in serving order
    std::size_t m_queued = 0;
    const Config m_config;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
