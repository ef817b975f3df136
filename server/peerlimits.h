#pragma once
// Limits per peer address that keep one hostile client from starving everybody else: how many
// connections one address may hold at once, and how often it may ask for costly work. Both
// are generous enough for players behind one NAT and for a browser's parallel connections.

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class PeerConnections : public std::enable_shared_from_this<PeerConnections>
{
public:
    // A held place; the place is given back when the slot is destroyed.
    class Slot
    {
    public:
        Slot(std::shared_ptr<PeerConnections> owner, std::string peer);
        ~Slot();
        Slot(Slot&& other) noexcept = default;
        Slot& operator=(Slot&& other) noexcept; // gives back the place held before
        const std::string& Peer() const { return m_peer; }
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;

    private:
        std::shared_ptr<PeerConnections> m_owner;
        std::string m_peer;
    };

    PeerConnections(int perPeer, int total);

    // A place for one more connection from `peer`; nothing when the peer or the server is full.
    // `perPeerCap` false: counted, but only against the total (a trusted proxy, whose
    // connections are counted again under each client they carry).
    std::optional<Slot> Take(const std::string& peer, bool perPeerCap = true);
    int Held(const std::string& peer) const;

private:
    void Release(const std::string& peer);

    const int m_perPeer;
    const int m_total;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, int> m_held;
    int m_heldTotal = 0;
};

// A token bucket per peer: `burst` requests at once, refilled at `perSecond`.
class PeerRate
{
public:
    using Clock = std::chrono::steady_clock;

    PeerRate(double perSecond, double burst);

    bool Allow(const std::string& peer, Clock::time_point now = Clock::now());

private:
    struct Bucket
    {
        double tokens = 0;
        Clock::time_point updated;
    };
    void Prune(Clock::time_point now);

    const double m_perSecond;
    const double m_burst;
    std::mutex m_mutex;
    std::unordered_map<std::string, Bucket> m_buckets;
    std::size_t m_pruneAt = 4096;
};
