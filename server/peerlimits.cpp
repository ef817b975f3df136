#include "peerlimits.h"

#include <algorithm>

PeerConnections::Slot::Slot(std::shared_ptr<PeerConnections> owner, std::string peer)
    : m_owner(std::move(owner))
    , m_peer(std::move(peer))
{
}

PeerConnections::Slot::~Slot()
{
    if (m_owner) // a moved-from slot holds nothing
        m_owner->Release(m_peer);
}

PeerConnections::Slot& PeerConnections::Slot::operator=(Slot&& other) noexcept
{
    if (this != &other) {
        if (m_owner)
            m_owner->Release(m_peer);
        m_owner = std::move(other.m_owner);
        m_peer = std::move(other.m_peer);
    }
    return *this;
}

PeerConnections::PeerConnections(int perPeer, int total)
    : m_perPeer(perPeer)
    , m_total(total)
{
}

std::optional<PeerConnections::Slot> PeerConnections::Take(const std::string& peer, bool perPeerCap)
{
    std::lock_guard lock(m_mutex);
    int& held = m_held[peer];
    if ((perPeerCap && held >= m_perPeer) || m_heldTotal >= m_total) {
        if (held == 0)
            m_held.erase(peer);
        return std::nullopt;
    }
    ++held;
    ++m_heldTotal;
    return Slot(shared_from_this(), peer);
}

int PeerConnections::Held(const std::string& peer) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_held.find(peer);
    return it == m_held.end() ? 0 : it->second;
}

void PeerConnections::Release(const std::string& peer)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_held.find(peer);
    if (it == m_held.end())
        return;
    --m_heldTotal;
    if (--it->second <= 0)
        m_held.erase(it);
}

PeerRate::PeerRate(double perSecond, double burst)
    : m_perSecond(perSecond)
    , m_burst(std::max(1.0, burst))
{
}

bool PeerRate::Allow(const std::string& peer, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_buckets.size() >= m_pruneAt)
        Prune(now);
    auto [it, fresh] = m_buckets.try_emplace(peer, Bucket{m_burst, now});
    Bucket& b = it->second;
    if (!fresh) {
        const double elapsed = std::chrono::duration<double>(now - b.updated).count();
        b.tokens = std::min(m_burst, b.tokens + std::max(0.0, elapsed) * m_perSecond);
        b.updated = now;
    }
    if (b.tokens < 1.0)
        return false;
    b.tokens -= 1.0;
    return true;
}

// A bucket that has filled up again says nothing a fresh one would not, so it can go.
void PeerRate::Prune(Clock::time_point now)
{
    std::erase_if(m_buckets, [&](const auto& entry) {
        const double elapsed = std::chrono::duration<double>(now - entry.second.updated).count();
        return entry.second.tokens + elapsed * m_perSecond >= m_burst;
    });
    // Many peers all busy at once: look again only after the table has doubled.
    m_pruneAt = std::max<std::size_t>(4096, m_buckets.size() * 2);
}
