#include "loginbackoff.h"

#include <algorithm>

namespace {

// A failure streak older than this is forgotten.
constexpr auto kMemory = std::chrono::minutes(15);

// Names match ignoring ASCII case, as the account store does.
std::string key(std::string_view user)
{
    std::string folded(user);
    std::transform(folded.begin(), folded.end(), folded.begin(), [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c);
    });
    return folded;
}

} // namespace

LoginBackoff::LoginBackoff(Policy policy)
    : m_policy(policy)
{
}

bool LoginBackoff::Begin(std::string_view user, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_entries.size() >= m_pruneAt)
        Prune(now);
    Entry& e = m_entries[key(user)];
    if (now < e.pausedUntil || e.inFlight >= m_policy.maxInFlight)
        return false;
    ++e.inFlight;
    return true;
}

void LoginBackoff::End(std::string_view user, bool checked, bool accepted, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_entries.find(key(user));
    if (it == m_entries.end())
        return;
    Entry& e = it->second;
    e.inFlight = std::max(0, e.inFlight - 1);
    if (!checked)
        return;
    if (accepted) {
        e.failures = 0;
        e.pausedUntil = {};
        return;
    }
    ++e.failures;
    e.lastFailure = now;
    const int over = e.failures - m_policy.freeFailures;
    if (over >= 0) {
        auto pause = m_policy.firstPause;
        for (int i = 0; i < over && pause < m_policy.longestPause; ++i)
            pause *= 2;
        e.pausedUntil = now + std::min(pause, m_policy.longestPause);
    }
}

void LoginBackoff::Prune(Clock::time_point now)
{
    std::erase_if(m_entries, [&](const auto& entry) {
        const Entry& e = entry.second;
        return e.inFlight == 0 && now >= e.pausedUntil && (e.failures == 0 || now - e.lastFailure > kMemory);
    });
    // Still large: single failures are the cheapest to forget (a guesser gains one attempt).
    if (m_entries.size() > 65536)
        std::erase_if(m_entries, [](const auto& entry) {
            return entry.second.inFlight == 0 && entry.second.failures <= 1;
        });
    m_pruneAt = std::max<std::size_t>(4096, m_entries.size() * 2);
}
