#include "accounts.h"

#include "accountstore.h"
#include "gbk.h"
#include "names.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

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
                          static_cast<int>(out.size()), out.data())
        != 1)
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

} // namespace

Accounts::Accounts() = default;
Accounts::~Accounts() = default;

bool Accounts::Open(const std::string& location, std::string* error)
{
    std::string why;
    m_store = IsPostgresUri(location) ? OpenPostgresStore(location, &why) : OpenSqliteStore(location, &why);
    if (!m_store && error)
        *error = why.empty() ? "cannot open " + location : why;
    return m_store != nullptr;
}

Accounts::RegisterResult Accounts::Register(std::string_view user, std::string_view password)
{
    const std::string name = names::Trimmed(user);
    if (name.empty() || password.empty())
        return RegisterResult::EmptyField;
    if (!ValidUserName(name))
        return RegisterResult::BadUserName;
    if (!ValidPassword(password))
        return RegisterResult::BadPassword;
    const std::string folded = names::Folded(name);
    if (folded.empty())
        return RegisterResult::BadUserName; // nothing but characters that fold away
    if (!m_store)
        return RegisterResult::StorageError;

    StoredAccount account{Bytes(kSaltBytes), {}, kIterations};
    if (RAND_bytes(account.salt.data(), static_cast<int>(account.salt.size())) != 1)
        return RegisterResult::StorageError;
    auto hash = Derive(password, account.salt, kIterations);
    if (!hash)
        return RegisterResult::StorageError;
    account.hash = std::move(*hash);

    switch (m_store->Insert(name, folded, account)) {
    case AccountStore::InsertResult::Inserted:
        return RegisterResult::Created;
    case AccountStore::InsertResult::Taken:
        return RegisterResult::Duplicate;
    case AccountStore::InsertResult::Failed:
        break;
    }
    return RegisterResult::StorageError;
}

bool Accounts::Check(std::string_view user, std::string_view password)
{
    // A zero byte would end the name early on some paths to the database; no stored name has one.
    std::optional<StoredAccount> found;
    if (m_store && !user.empty() && user.find('\0') == std::string_view::npos)
        found = m_store->Find(user, names::Folded(user));
    // Unknown names cost a hash too, so timing does not tell which names exist.
    const Bytes salt = found ? found->salt : Bytes(kSaltBytes, 0);
    const auto hash = Derive(password, salt, found ? found->iterations : kIterations);
    if (!found || !hash || password.empty() || hash->size() != found->hash.size())
        return false;
    return CRYPTO_memcmp(hash->data(), found->hash.data(), found->hash.size()) == 0;
}

std::string Accounts::Describe(RegisterResult result)
{
    switch (result) {
    case RegisterResult::Created:
        return "注册成功！现在可以在云帆助手中用这个账号登陆。";
    case RegisterResult::EmptyField:
        return "用户名和密码都不能为空。";
    case RegisterResult::Duplicate:
        return "该用户名已被注册（不区分大小写、全角半角和首尾空格），请换一个用户名。";
    case RegisterResult::BadUserName:
        return "用户名最多32个字符，不能含控制字符或GBK无法表示的字符。";
    case RegisterResult::BadPassword:
        return "密码最多64个字符，只能包含英文字母、数字和英文符号。";
    case RegisterResult::StorageError:
        break;
    }
    return "服务器暂时无法保存账号，请稍后再试。";
}

std::string Accounts::ComparisonKey(std::string_view user)
{
    return names::Folded(user);
}
