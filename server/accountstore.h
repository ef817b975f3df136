#pragma once
// Where the accounts are kept: what the account rules (accounts.h) need from a database, with
// one implementation on an SQLite file and one on a PostgreSQL database. Both hold the table
//   accounts(name, folded, salt, hash, iterations, created)
// `name` is the name as registered and unique; `folded` its comparison form (names.h),
// indexed but not unique: rows written before names were folded may share one. And the login
// counters every server sharing the database enforces together, keyed by the folded name:
//   login_failures(account, source, failures, last_failure)  failed logins in a row per source
//   login_budget(account, level, updated)                     failures from all sources, draining
//   login_sources(account, source, last_success)              where the owner logged in before
// Times are milliseconds since the epoch. Both are safe to use from many threads and from
// several processes sharing one database.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct StoredAccount
{
    std::vector<unsigned char> salt;
    std::vector<unsigned char> hash;
    int iterations = 0;
};

// What the store knows about logins to one account from one source; 0 where it knows nothing.
struct LoginRecord
{
    int sourceFailures = 0; // failed logins in a row from the source
    std::int64_t sourceLastFailure = 0;
    double accountLevel = 0; // failures from all sources, as of accountUpdated
    std::int64_t accountUpdated = 0;
    std::int64_t sourceLastSuccess = 0;
};

class AccountStore
{
public:
    enum class InsertResult { Inserted, Taken, Failed };

    virtual ~AccountStore() = default;

    // The account registered as exactly `name`; failing that, the one account whose folded
    // name is `folded`. Nothing when there is none, when several old accounts share the folded
    // name (none of them is plainly meant), or when the database cannot be read.
    virtual std::optional<StoredAccount> Find(std::string_view name, std::string_view folded) = 0;

    // Adds the account unless one has the same name or the same folded name. The check and
    // the insert are one step for every process sharing the database.
    virtual InsertResult Insert(std::string_view name, std::string_view folded,
                                const StoredAccount& account) = 0;

    // The counters of `account` (a folded name) and `source`; nothing when unreadable.
    virtual std::optional<LoginRecord> Logins(std::string_view account, std::string_view source) = 0;
    // A failed login: the source's streak grows (starting again at 1 when its last failure is
    // older than `streakMs`), and the account's level drains by `drainPerMs` since its last
    // update, then grows by one.
    virtual bool NoteFailure(std::string_view account, std::string_view source, std::int64_t now,
                             std::int64_t streakMs, double drainPerMs) = 0;
    // A successful login: the source's streak ends and the source is remembered.
    virtual bool NoteSuccess(std::string_view account, std::string_view source, std::int64_t now) = 0;
    // Drops counters that no longer say anything: streaks older than `streakMs`, drained
    // levels, sources not seen for `rememberMs`.
    virtual void PruneLogins(std::int64_t now, std::int64_t streakMs, double drainPerMs,
                             std::int64_t rememberMs) = 0;
};

// True for postgresql:// and postgres:// connection URIs.
bool IsPostgresUri(std::string_view location);

// Each opens the database, creating or bringing up to date its table; nothing, with a message
// in `error`, when it cannot.
std::unique_ptr<AccountStore> OpenSqliteStore(const std::string& path, std::string* error);
std::unique_ptr<AccountStore> OpenPostgresStore(const std::string& uri, std::string* error);
