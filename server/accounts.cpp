#include "accounts.h"

#include "gbk.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <array>
#include <optional>
#include <vector>

namespace {

constexpr int kIterations = 40000;
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
constexpr std::size_t kMaxUserChars = 32;
constexpr std::size_t kMaxPasswordChars = 64;

using Bytes = std::vector<unsigned char>;

std::optional<Bytes> Derive(std::string_view password, const Bytes& salt, int iterations)
{
    Bytes out(kHashBytes);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(out.size()), out.data()) != 1)
        return std::nullopt;
    return out;
}

bool ValidUserName(std::string_view user)
{
    if (gbk::Utf16Length(user) > kMaxUserChars)
        return false;
    for (unsigned char c : user)
        if (c < 0x20 || c == 0x7F)
            return false;
    return gbk::FromUtf8(user).has_value();
}

bool ValidPassword(std::string_view password)
{
    if (password.size() > kMaxPasswordChars)
        return false;
    for (unsigned char c : password)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr); }
    ~Statement() { sqlite3_finalize(stmt); }
};

} // namespace

Accounts::Accounts() = default;

Accounts::~Accounts()
{
    if (db_)
        sqlite3_close(db_);
}

bool Accounts::Open(const std::string& path, std::string* error)
{
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        if (error)
            *error = db_ ? sqlite3_errmsg(db_) : "cannot open database";
        return false;
    }
    // Another process (the demo maker, a second server) may write at the same time.
    sqlite3_busy_timeout(db_, 5000);
    const char* schema =
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE IF NOT EXISTS accounts ("
        " name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
        " salt BLOB NOT NULL, hash BLOB NOT NULL, iterations INTEGER NOT NULL,"
        " created TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP);";
    char* message = nullptr;
    if (sqlite3_exec(db_, schema, nullptr, nullptr, &message) != SQLITE_OK) {
        if (error)
            *error = message ? message : "cannot create schema";
        sqlite3_free(message);
        return false;
    }
    return true;
}

Accounts::RegisterResult Accounts::Register(std::string_view user, std::string_view password)
{
    if (user.empty() || password.empty())
        return RegisterResult::EmptyField;
    if (!ValidUserName(user))
        return RegisterResult::BadUserName;
    if (!ValidPassword(password))
        return RegisterResult::BadPassword;

    Bytes salt(kSaltBytes);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
        return RegisterResult::StorageError;
    const auto hash = Derive(password, salt, kIterations);
    if (!hash)
        return RegisterResult::StorageError;

    std::lock_guard lock(mutex_);
    Statement insert(db_, "INSERT INTO accounts (name, salt, hash, iterations) VALUES (?, ?, ?, ?)");
    if (!insert.stmt)
        return RegisterResult::StorageError;
    sqlite3_bind_text(insert.stmt, 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert.stmt, 2, salt.data(), static_cast<int>(salt.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert.stmt, 3, hash->data(), static_cast<int>(hash->size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(insert.stmt, 4, kIterations);
    const int rc = sqlite3_step(insert.stmt);
    if (rc == SQLITE_DONE)
        return RegisterResult::Created;
    if (rc == SQLITE_CONSTRAINT)
        return RegisterResult::Duplicate;
    return RegisterResult::StorageError;
}

bool Accounts::Check(std::string_view user, std::string_view password)
{
    Bytes salt(kSaltBytes, 0), stored;
    int iterations = kIterations;
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        Statement select(db_, "SELECT salt, hash, iterations FROM accounts WHERE name = ?");
        if (!select.stmt)
            return false;
        sqlite3_bind_text(select.stmt, 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(select.stmt) == SQLITE_ROW) {
            const auto* s = static_cast<const unsigned char*>(sqlite3_column_blob(select.stmt, 0));
            salt.assign(s, s + sqlite3_column_bytes(select.stmt, 0));
            const auto* h = static_cast<const unsigned char*>(sqlite3_column_blob(select.stmt, 1));
            stored.assign(h, h + sqlite3_column_bytes(select.stmt, 1));
            iterations = sqlite3_column_int(select.stmt, 2);
            found = true;
        }
    }
    // Unknown names cost a hash too, so timing does not tell which names exist.
    const auto hash = Derive(password, salt, iterations);
    if (!found || !hash || password.empty() || hash->size() != stored.size())
        return false;
    return CRYPTO_memcmp(hash->data(), stored.data(), stored.size()) == 0;
}

std::string Accounts::Describe(RegisterResult result)
{
    switch (result) {
    case RegisterResult::Created:
        return "注册成功！现在可以在云帆助手中用这个账号登陆。";
    case RegisterResult::EmptyField:
        return "用户名和密码都不能为空。";
    case RegisterResult::Duplicate:
        return "该用户名已被注册，请换一个用户名。";
    case RegisterResult::BadUserName:
        return "用户名最多32个字符，不能含控制字符或GBK无法表示的字符。";
    case RegisterResult::BadPassword:
        return "密码最多64个字符，只能包含英文字母、数字和英文符号。";
    case RegisterResult::StorageError:
        break;
    }
    return "服务器暂时无法保存账号，请稍后再试。";
}
