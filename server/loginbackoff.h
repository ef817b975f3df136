#pragma once
// Slows password guessing against one account, whichever addresses the guesses come from:
// after a few failed logins in a row the account takes no further attempt for a while, the
// pause doubling with each further failure up to a ceiling. A successful login clears it.
// Attempts during a pause are refused without checking the password.

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

class LoginBackoff
{
public:
    using Clock = std::chrono::steady_clock;

    struct Policy
    {
        int freeFailures = 5;                       // failures in a row before the first pause
        std::chrono::milliseconds firstPause{1000}; // doubled with every further failure
        std::chrono::milliseconds longestPause{60000};
        int maxInFlight = 4; // checks of one account running at once
    };

    explicit LoginBackoff(Policy policy);

    // True when an attempt on `user` may be checked now; it must then be ended by End().
    bool Begin(std::string_view user, Clock::time_point now = Clock::now());
    // `checked` false: the attempt was dropped before its password was looked at.
    void End(std::string_view user, bool checked, bool accepted, Clock::time_point now = Clock::now());

private:
    struct Entry
    {
        int failures = 0;
        int inFlight = 0;
        Clock::time_point pausedUntil;
        Clock::time_point lastFailure;
    };
    void Prune(Clock::time_point now);

    const Policy m_policy;
    std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
    std::size_t m_pruneAt = 4096;
};
