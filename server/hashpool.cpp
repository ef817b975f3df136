#include "hashpool.h"

#include <algorithm>

HashPool::HashPool(Config config)
    : m_config(config)
{
    int threads = config.threads;
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { Work(); });
}

HashPool::~HashPool()
{
    Stop();
}

bool HashPool::Submit(const std::string& peer, std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || m_queued >= m_config.maxQueued)
            return false;
        auto& queue = m_queues[peer];
        if (queue.size() >= m_config.maxPerPeer)
            return false;
        if (queue.empty())
            m_turns.push_back(peer);
        queue.push_back(std::move(job));
        ++m_queued;
    }
    m_ready.notify_one();
    return true;
}

void HashPool::Stop()
{
    decltype(m_queues) dropped;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping && m_threads.empty())
            return;
        m_stopping = true;
        dropped.swap(m_queues);
        m_turns.clear();
        m_queued = 0;
    }
    m_ready.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
    // `dropped` goes here, outside the lock: a job's captures may take locks of their own.
}

void HashPool::Work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_turns.empty(); });
            if (m_stopping)
                return;
            const std::string peer = std::move(m_turns.front());
            m_turns.pop_front();
            auto it = m_queues.find(peer);
            job = std::move(it->second.front());
            it->second.pop_front();
            --m_queued;
            if (it->second.empty())
                m_queues.erase(it);
            else
                m_turns.push_back(peer); // its next job waits for the other peers' turns
        }
        job();
    }
}
