#pragma once
// The account store: user names and salted PBKDF2-SHA256 password hashes, kept in an SQLite
// file (the default, for one machine) or a PostgreSQL database (shared by several server
// processes). Safe to use from many threads once opened; hashing runs outside any database
// lock.

#include <memory>
#include <string>
#include <string_view>

class AccountStore;

class Accounts
{
public:
    enum class RegisterResult { Created, EmptyField, Duplicate, BadUserName, BadPassword, StorageError };

    Accounts();
    ~Accounts();
    Accounts(const Accounts&) = delete;
    Accounts& operator=(const Accounts&) = delete;

    // Opens the account database, creating its table when missing and bringing an older one up
    // to date: `location` is a PostgreSQL connection URI (postgresql://… or postgres://…) or
    // else the path of an SQLite file (created readable by its owner only). False with a
    // message in `error`. Call once, before the object is shared between threads.
    bool Open(const std::string& location, std::string* error = nullptr);

    // User names: 1 to 32 characters once the blanks around them are dropped, no control
    // characters, encodable in GBK (the login travels in GBK). Passwords: 1 to 64 printable
    // ASCII characters, because the program remembers passwords in a form that keeps only ASCII
    // intact. A new name is refused when it folds (ComparisonKey) to an existing one's.
    RegisterResult Register(std::string_view user, std::string_view password);
    // A login names the account registered exactly so, or else the one account it folds to.
    bool Check(std::string_view user, std::string_view password);

    // Chinese text for a registration result, shown on the registration page.
    static std::string Describe(RegisterResult result);

    // The form in which names compare: trimmed, NFKC, case folded. Names that look alike share
    // it, so limits on login attempts per account should be keyed on it.
    static std::string ComparisonKey(std::string_view user);

    // The store itself, for the login counters kept beside the accounts; null until opened.
    AccountStore* Store() { return m_store.get(); }

private:
    std::unique_ptr<AccountStore> m_store;
};
