#pragma once
// The account store: user names and salted PBKDF2-SHA256 password hashes in SQLite. Safe to
// use from many threads; hashing runs outside the database lock.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

struct sqlite3;

class Accounts
{
public:
    enum class RegisterResult { Created, EmptyField, Duplicate, BadUserName, BadPassword, StorageError };

    Accounts();
    ~Accounts();
    Accounts(const Accounts&) = delete;
    Accounts& operator=(const Accounts&) = delete;

    // Opens (creating when missing) the database file; false with a message in `error`.
    bool Open(const std::string& path, std::string* error = nullptr);

    // User names: 1 to 32 characters, no control characters, encodable in GBK (the login
    // travels in GBK). Passwords: 1 to 64 printable ASCII characters, because the program
    // remembers passwords in a form that keeps only ASCII intact. Names match ignoring ASCII case.
    RegisterResult Register(std::string_view user, std::string_view password);
    bool Check(std::string_view user, std::string_view password);

    // Chinese text for a registration result, shown on the registration page.
    static std::string Describe(RegisterResult result);

private:
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};
