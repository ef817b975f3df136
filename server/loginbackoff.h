#pragma once
// Slows password guessing without letting a guesser lock the owner out. Failed logins are
// counted per account (its folded name, as the store compares names) and source address:
// after a few in a row that source pauses, the pause doubling with each further failure up to
// a ceiling. All sources together get a budget of failures per hour on the account; when it is
// spent, and while too many checks of the account are running, sources the account has not
// logged in from before wait. A source that has logged in successfully (remembered for a
// while) is held only by its own streak, so strangers cannot keep the owner out. The counters
// live in the account store, so every server sharing a database enforces them together.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

class Accounts;

class LoginBackoff
{
public:
    using Clock = std::chrono::system_clock; // shared between servers, so wall-clock time

    struct Policy
    {
        int freeFailures = 5;                       // failures in a row from one source before it pauses
        std::chrono::milliseconds firstPause{1000}; // doubled with every further failure
        std::chrono::milliseconds longestPause{60000};
        int maxInFlight = 4;      // checks of one account running at once for strangers
        int failuresPerHour = 60; // per account, all sources together, before strangers wait
        std::chrono::hours rememberSources{24 * 30};
    };

    enum class Verdict { Check, SourcePaused, AccountPaused, Busy, StoreFailed };

    // What Begin decided; hand it back to End when it said Check.
    struct Attempt
    {
        Verdict verdict = Verdict::StoreFailed;
        std::string account;  // the folded name
        bool counted = false; // holds a place among the account's checks in flight
    };

    LoginBackoff(Policy policy, Accounts& accounts);

    // Whether a login to `user` from `source` may be checked now. Reads the store: call it off
    // the network thread.
    Attempt Begin(std::string_view user, const std::string& source, Clock::time_point now = Clock::now());
    // `checked` false: the attempt was dropped before its password was looked at.
    void End(const Attempt& attempt, const std::string& source, bool checked, bool accepted,
             Clock::time_point now = Clock::now());

    // Why an attempt was refused, for the log.
    static const char* Describe(Verdict verdict);

private:
    const Policy m_policy;
    Accounts& m_accounts;
    std::mutex m_mutex;
    std::unordered_map<std::string, int> m_inFlight;
    int m_sincePrune = 0;
};
