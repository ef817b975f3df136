#pragma once
// Where the accounts are kept: what the account rules (accounts.h) need from a database, with
// one implementation on an SQLite file and one on a PostgreSQL database. Both hold one table:
//   accounts(name, folded, salt, hash, iterations, created)
// `name` is the name as registered and unique; `folded` its comparison form (names.h),
// indexed but not unique: rows written before names were folded may share one. Both are safe
// to use from many threads and from several processes sharing one database.

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
};

// True for postgresql:// and postgres:// connection URIs.
bool IsPostgresUri(std::string_view location);

// Each opens the database, creating or bringing up to date its table; nothing, with a message
// in `error`, when it cannot.
std::unique_ptr<AccountStore> OpenSqliteStore(const std::string& path, std::string* error);
std::unique_ptr<AccountStore> OpenPostgresStore(const std::string& uri, std::string* error);
