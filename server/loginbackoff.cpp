#include "loginbackoff.h"

#include "accounts.h"
#include "accountstore.h"

#include <algorithm>

namespace {

// A failure streak older than this is forgotten.
constexpr std::chrono::milliseconds kStreakMemory = std::chrono::minutes(15);
// Stale counters are dropped after this many recorded logins.
constexpr int kPruneEvery = 512;

std::int64_t millis(LoginBackoff::Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

} // namespace

LoginBackoff::LoginBackoff(Policy policy, Accounts& accounts)
    : m_policy(policy)
    , m_accounts(accounts)
{
}

LoginBackoff::Attempt LoginBackoff::Begin(std::string_view user, const std::string& source,
                                          Clock::time_point now)
{
    Attempt attempt;
    attempt.account = Accounts::ComparisonKey(user);
    AccountStore* store = m_accounts.Store();
    const auto record = store ? store->Logins(attempt.account, source) : std::nullopt;
    if (!record)
        return attempt; // StoreFailed: no check could be recorded, and none could succeed
    const std::int64_t at = millis(now);

    const int over = record->sourceFailures - m_policy.freeFailures;
    if (over >= 0 && at - record->sourceLastFailure < kStreakMemory.count()) {
        auto pause = m_policy.firstPause;
        for (int i = 0; i < over && pause < m_policy.longestPause; ++i)
            pause *= 2;
        if (at < record->sourceLastFailure + std::min(pause, m_policy.longestPause).count()) {
            attempt.verdict = Verdict::SourcePaused;
            return attempt;
        }
    }
    const auto remember = std::chrono::duration_cast<std::chrono::milliseconds>(m_policy.rememberSources);
    const bool known = record->sourceLastSuccess > 0 && at - record->sourceLastSuccess < remember.count();
    if (!known) {
        const double drainPerMs = m_policy.failuresPerHour / 3.6e6;
        const double level = record->accountLevel
            - std::max<std::int64_t>(0, at - record->accountUpdated) * drainPerMs;
        // Held once the budget is spent, until an hour's share of it has drained again.
        if (level > m_policy.failuresPerHour - 1) {
            attempt.verdict = Verdict::AccountPaused;
            return attempt;
        }
        std::lock_guard lock(m_mutex);
        int& running = m_inFlight[attempt.account];
        if (running >= m_policy.maxInFlight) {
            if (running == 0)
                m_inFlight.erase(attempt.account);
            attempt.verdict = Verdict::Busy;
            return attempt;
        }
        ++running;
        attempt.counted = true;
    }
    attempt.verdict = Verdict::Check;
    return attempt;
}

void LoginBackoff::End(const Attempt& attempt, const std::string& source, bool checked, bool accepted,
                       Clock::time_point now)
{
    bool prune = false;
    {
        std::lock_guard lock(m_mutex);
        if (attempt.counted) {
            const auto it = m_inFlight.find(attempt.account);
            if (it != m_inFlight.end() && --it->second <= 0)
                m_inFlight.erase(it);
        }
        if (checked && ++m_sincePrune >= kPruneEvery) {
            m_sincePrune = 0;
            prune = true;
        }
    }
    AccountStore* store = m_accounts.Store();
    if (!checked || !store)
        return;
    const std::int64_t at = millis(now);
    const double drainPerMs = m_policy.failuresPerHour / 3.6e6;
    if (accepted)
        store->NoteSuccess(attempt.account, source, at);
    else
        store->NoteFailure(attempt.account, source, at, kStreakMemory.count(), drainPerMs);
    if (prune)
        store->PruneLogins(
            at, kStreakMemory.count(), drainPerMs,
            std::chrono::duration_cast<std::chrono::milliseconds>(m_policy.rememberSources).count());
}

const char* LoginBackoff::Describe(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Check:
        return "checked";
    case Verdict::SourcePaused:
        return "this address is pausing after failed logins to the account";
    case Verdict::AccountPaused:
        return "the account's failed logins for the hour are spent; only addresses it logged in from may try";
    case Verdict::Busy:
        return "too many logins to the account at once";
    case Verdict::StoreFailed:
        break;
    }
    return "the account store cannot be read";
}
