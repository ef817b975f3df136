// The account store on an SQLite file: the embedded default, for one machine. The file holds
// password hashes, so it and its WAL and shared-memory files are readable by the owner only.

#include "accountstore.h"

#include "names.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <utility>

namespace {

constexpr int kBusyTimeoutMs = 5000;

class Statement
{
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return m_stmt != nullptr; }
    sqlite3_stmt* Get() const { return m_stmt; }
    void Text(int index, std::string_view text)
    {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void Blob(int index, const std::vector<unsigned char>& bytes)
    {
        sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    }
    void Int(int index, std::int64_t value) { sqlite3_bind_int64(m_stmt, index, value); }
    void Real(int index, double value) { sqlite3_bind_double(m_stmt, index, value); }
    int Step() { return sqlite3_step(m_stmt); }
    std::string ColumnText(int column) const
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
                    : std::string();
    }
    std::vector<unsigned char> ColumnBlob(int column) const
    {
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(m_stmt, column));
        return bytes ? std::vector<unsigned char>(bytes, bytes + sqlite3_column_bytes(m_stmt, column))
                     : std::vector<unsigned char>();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// Creates the file readable by its owner only, so SQLite gives its WAL and shared-memory files
// the same mode. Files left readable by everyone by an earlier version lose that permission.
void GuardFiles(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    namespace fs = std::filesystem;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code ec;
        const fs::path file = path + suffix;
        const fs::file_status status = fs::status(file, ec);
        if (!ec && fs::is_regular_file(status)
            && (status.permissions() & fs::perms::others_all) != fs::perms::none)
            fs::permissions(file, fs::perms::others_all, fs::perm_options::remove, ec);
    }
}

StoredAccount Account(const Statement& row, int first)
{
    return {row.ColumnBlob(first), row.ColumnBlob(first + 1), sqlite3_column_int(row.Get(), first + 2)};
}

class SqliteStore : public AccountStore
{
public:
    ~SqliteStore() override { sqlite3_close(m_db); }

    bool Open(const std::string& path, std::string* error)
    {
        GuardFiles(path);
        if (sqlite3_open_v2(path.c_str(), &m_db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr)
            != SQLITE_OK)
            return Fail(error, "cannot open " + path);
        // Another process (the demo maker, a second server) may write at the same time.
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        if (!Exec("PRAGMA journal_mode=WAL"))
            return Fail(error, path);
        std::string why;
        if (!Migrate(&why)) {
            if (error)
                *error = path + ": " + why;
            return false;
        }
        return true;
    }

    std::optional<StoredAccount> Find(std::string_view name, std::string_view folded) override
    {
        std::lock_guard lock(m_mutex);
        // The name column compares ignoring ASCII case (as it always has), so the one row it
        // finds is exact only if its bytes are.
        Statement byName(m_db, "SELECT name, salt, hash, iterations FROM accounts WHERE name = ?1");
        if (!byName.Ok())
            return std::nullopt;
        byName.Text(1, name);
        if (byName.Step() == SQLITE_ROW && byName.ColumnText(0) == name)
            return Account(byName, 1);

        Statement byFolded(m_db, "SELECT salt, hash, iterations FROM accounts WHERE folded = ?1 LIMIT 2");
        if (!byFolded.Ok())
            return std::nullopt;
        byFolded.Text(1, folded);
        if (byFolded.Step() != SQLITE_ROW)
            return std::nullopt;
        StoredAccount account = Account(byFolded, 0);
        if (byFolded.Step() == SQLITE_ROW)
            return std::nullopt;
        return account;
    }

    InsertResult Insert(std::string_view name, std::string_view folded, const StoredAccount& account) override
    {
        std::lock_guard lock(m_mutex);
        // IMMEDIATE takes the write lock first, so no other process slips in between the
        // check and the insert.
        if (!Exec("BEGIN IMMEDIATE"))
            return InsertResult::Failed;
        const InsertResult result = InsertLocked(name, folded, account);
        if (result != InsertResult::Inserted || !Exec("COMMIT")) {
            Exec("ROLLBACK");
            return result == InsertResult::Inserted ? InsertResult::Failed : result;
        }
        return result;
    }

    std::optional<LoginRecord> Logins(std::string_view account, std::string_view source) override
    {
        std::lock_guard lock(m_mutex);
        Statement read(m_db,
                       "SELECT"
                       " (SELECT failures FROM login_failures WHERE account = ?1 AND source = ?2),"
                       " (SELECT last_failure FROM login_failures WHERE account = ?1 AND source = ?2),"
                       " (SELECT level FROM login_budget WHERE account = ?1),"
                       " (SELECT updated FROM login_budget WHERE account = ?1),"
                       " (SELECT last_success FROM login_sources WHERE account = ?1 AND source = ?2)");
        if (!read.Ok())
            return std::nullopt;
        read.Text(1, account);
        read.Text(2, source);
        if (read.Step() != SQLITE_ROW)
            return std::nullopt;
        sqlite3_stmt* row = read.Get();
        return LoginRecord{sqlite3_column_int(row, 0), sqlite3_column_int64(row, 1),
                           sqlite3_column_double(row, 2), sqlite3_column_int64(row, 3),
                           sqlite3_column_int64(row, 4)};
    }

    bool NoteFailure(std::string_view account, std::string_view source, std::int64_t now,
                     std::int64_t streakMs, double drainPerMs) override
    {
        std::lock_guard lock(m_mutex);
        Statement streak(m_db,
                         "INSERT INTO login_failures (account, source, failures, last_failure)"
                         " VALUES (?1, ?2, 1, ?3) ON CONFLICT (account, source) DO UPDATE SET"
                         " failures = CASE WHEN last_failure < ?3 - ?4 THEN 1 ELSE failures + 1 END,"
                         " last_failure = ?3");
        Statement budget(
            m_db,
            "INSERT INTO login_budget (account, level, updated) VALUES (?1, 1, ?2)"
            " ON CONFLICT (account) DO UPDATE SET"
            " level = max(0, level - max(0, ?2 - updated) * ?3) + 1, updated = max(updated, ?2)");
        if (!streak.Ok() || !budget.Ok())
            return false;
        streak.Text(1, account);
        streak.Text(2, source);
        streak.Int(3, now);
        streak.Int(4, streakMs);
        budget.Text(1, account);
        budget.Int(2, now);
        budget.Real(3, drainPerMs);
        return streak.Step() == SQLITE_DONE && budget.Step() == SQLITE_DONE;
    }

    bool NoteSuccess(std::string_view account, std::string_view source, std::int64_t now) override
    {
        std::lock_guard lock(m_mutex);
        Statement clear(m_db, "DELETE FROM login_failures WHERE account = ?1 AND source = ?2");
        Statement remember(m_db,
                           "INSERT INTO login_sources (account, source, last_success) VALUES (?1, ?2, ?3)"
                           " ON CONFLICT (account, source) DO UPDATE SET last_success = ?3");
        if (!clear.Ok() || !remember.Ok())
            return false;
        clear.Text(1, account);
        clear.Text(2, source);
        remember.Text(1, account);
        remember.Text(2, source);
        remember.Int(3, now);
        return clear.Step() == SQLITE_DONE && remember.Step() == SQLITE_DONE;
    }

    void PruneLogins(std::int64_t now, std::int64_t streakMs, double drainPerMs,
                     std::int64_t rememberMs) override
    {
        std::lock_guard lock(m_mutex);
        Statement streaks(m_db, "DELETE FROM login_failures WHERE last_failure < ?1");
        Statement levels(m_db, "DELETE FROM login_budget WHERE level - (?1 - updated) * ?2 <= 0");
        Statement sources(m_db, "DELETE FROM login_sources WHERE last_success < ?1");
        if (!streaks.Ok() || !levels.Ok() || !sources.Ok())
            return;
        streaks.Int(1, now - streakMs);
        levels.Int(1, now);
        levels.Real(2, drainPerMs);
        sources.Int(1, now - rememberMs);
        streaks.Step();
        levels.Step();
        sources.Step();
    }

private:
    bool Fail(std::string* error, const std::string& what)
    {
        if (error)
            *error = what + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory");
        return false;
    }

    bool Exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    InsertResult InsertLocked(std::string_view name, std::string_view folded, const StoredAccount& account)
    {
        Statement taken(m_db, "SELECT 1 FROM accounts WHERE name = ?1 OR folded = ?2 LIMIT 1");
        if (!taken.Ok())
            return InsertResult::Failed;
        taken.Text(1, name);
        taken.Text(2, folded);
        const int found = taken.Step();
        if (found == SQLITE_ROW)
            return InsertResult::Taken;
        if (found != SQLITE_DONE)
            return InsertResult::Failed;

        Statement insert(
            m_db, "INSERT INTO accounts (name, folded, salt, hash, iterations) VALUES (?1, ?2, ?3, ?4, ?5)");
        if (!insert.Ok())
            return InsertResult::Failed;
        insert.Text(1, name);
        insert.Text(2, folded);
        insert.Blob(3, account.salt);
        insert.Blob(4, account.hash);
        sqlite3_bind_int(insert.Get(), 5, account.iterations);
        const int rc = insert.Step();
        if (rc == SQLITE_DONE)
            return InsertResult::Inserted;
        return rc == SQLITE_CONSTRAINT ? InsertResult::Taken : InsertResult::Failed;
    }

    // Creates the table, or brings one written before names were folded up to date: the
    // folded column is added and filled for every row, and then indexed.
    bool Migrate(std::string* why)
    {
        if (!Exec("BEGIN IMMEDIATE")) {
            *why = sqlite3_errmsg(m_db);
            return false;
        }
        const bool ok =
            Exec("CREATE TABLE IF NOT EXISTS accounts ("
                 " name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
                 " salt BLOB NOT NULL, hash BLOB NOT NULL, iterations INTEGER NOT NULL,"
                 " created TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP,"
                 " folded TEXT)")
            && AddFoldedColumn() && FillFolded()
            && Exec("CREATE INDEX IF NOT EXISTS accounts_folded ON accounts (folded)")
            && Exec(
                "CREATE TABLE IF NOT EXISTS login_failures (account TEXT NOT NULL, source TEXT NOT NULL,"
                " failures INTEGER NOT NULL, last_failure INTEGER NOT NULL, PRIMARY KEY (account, source))")
            && Exec("CREATE TABLE IF NOT EXISTS login_budget (account TEXT NOT NULL PRIMARY KEY,"
                    " level REAL NOT NULL, updated INTEGER NOT NULL)")
            && Exec("CREATE TABLE IF NOT EXISTS login_sources (account TEXT NOT NULL, source TEXT NOT NULL,"
                    " last_success INTEGER NOT NULL, PRIMARY KEY (account, source))")
            && Exec("COMMIT");
        if (!ok) {
            *why = sqlite3_errmsg(m_db); // before the rollback replaces it
            Exec("ROLLBACK");
        }
        return ok;
    }

    bool AddFoldedColumn()
    {
        Statement columns(m_db, "SELECT 1 FROM pragma_table_info('accounts') WHERE name = 'folded'");
        if (!columns.Ok())
            return false;
        const int rc = columns.Step();
        if (rc == SQLITE_ROW)
            return true;
        return rc == SQLITE_DONE && Exec("ALTER TABLE accounts ADD COLUMN folded TEXT");
    }

    bool FillFolded()
    {
        std::vector<std::pair<sqlite3_int64, std::string>> rows;
        {
            Statement unfolded(m_db, "SELECT rowid, name FROM accounts WHERE folded IS NULL");
            if (!unfolded.Ok())
                return false;
            int rc = 0;
            while ((rc = unfolded.Step()) == SQLITE_ROW)
                rows.emplace_back(sqlite3_column_int64(unfolded.Get(), 0), unfolded.ColumnText(1));
            if (rc != SQLITE_DONE)
                return false;
        }
        Statement update(m_db, "UPDATE accounts SET folded = ?1 WHERE rowid = ?2");
        if (!update.Ok())
            return false;
        for (const auto& [rowid, name] : rows) {
            sqlite3_reset(update.Get());
            update.Text(1, names::Folded(name));
            sqlite3_bind_int64(update.Get(), 2, rowid);
            if (update.Step() != SQLITE_DONE)
                return false;
        }
        return true;
    }

    sqlite3* m_db = nullptr;
    std::mutex m_mutex; // one statement sequence at a time: Insert's transaction spans several
};

} // namespace

std::unique_ptr<AccountStore> OpenSqliteStore(const std::string& path, std::string* error)
{
    auto store = std::make_unique<SqliteStore>();
    if (!store->Open(path, error))
        return nullptr;
    return store;
}
