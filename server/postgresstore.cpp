// The account store on PostgreSQL: one database shared by any number of qx77-server processes
// on any number of machines. Connections are opened as needed and kept for reuse; a request
// whose connection turns out broken (the database restarted, say) is tried once more on a
// fresh one.

#include "accountstore.h"

#include "names.h"

#include <libpq-fe.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr std::size_t kMaxIdleConnections = 8;

struct ResultDeleter
{
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

std::string Message(const PGconn* conn)
{
    std::string text = conn ? PQerrorMessage(conn) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool Is(const Result& result, ExecStatusType status)
{
    return result && PQresultStatus(result.get()) == status;
}

// One query parameter: text (UTF-8) or raw bytes.
struct Param
{
    const char* data;
    int length;
    int format; // 0 text, 1 binary
};

Param TextParam(const std::string& text)
{
    return {text.c_str(), static_cast<int>(text.size()), 0};
}

Param BytesParam(const std::vector<unsigned char>& bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 1};
}

template <std::size_t N>
Result Query(PGconn* conn, const char* sql, const std::array<Param, N>& params, int resultFormat = 0)
{
    std::array<const char*, N> values{};
    std::array<int, N> lengths{}, formats{};
    for (std::size_t i = 0; i < N; ++i) {
        values[i] = params[i].data;
        lengths[i] = params[i].length;
        formats[i] = params[i].format;
    }
    return Result(PQexecParams(conn, sql, static_cast<int>(N), nullptr, values.data(), lengths.data(),
                               formats.data(), resultFormat));
}

std::vector<unsigned char> BytesAt(const PGresult* result, int row, int column)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(PQgetvalue(result, row, column));
    return {bytes, bytes + PQgetlength(result, row, column)};
}

// A binary int4 is four bytes, most significant first.
int IntAt(const PGresult* result, int row, int column)
{
    if (PQgetlength(result, row, column) != 4)
        return 0;
    const auto* b = reinterpret_cast<const unsigned char*>(PQgetvalue(result, row, column));
    return static_cast<int>((std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16)
                            | (std::uint32_t(b[2]) << 8) | std::uint32_t(b[3]));
}

// Every digit of a double, where std::to_string would keep six decimals.
std::string Real(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

class PostgresStore : public AccountStore
{
public:
    ~PostgresStore() override
    {
        for (PGconn* conn : m_idle)
            PQfinish(conn);
    }

    bool Open(const std::string& uri, std::string* error)
    {
        m_uri = uri;
        PGconn* conn = Connect(error);
        if (!conn)
            return false;
        const bool ok = CreateSchema(conn, error);
        Give(conn);
        return ok;
    }

    std::optional<StoredAccount> Find(std::string_view name, std::string_view folded) override
    {
        const std::string nameText(name), foldedText(folded);
        for (int attempt = 0; attempt < 2; ++attempt) {
            PGconn* conn = Take(nullptr);
            if (!conn)
                return std::nullopt;
            // The exact name sorts first; without one, a second row means the folded name is
            // shared by old accounts.
            const Result rows = Query<2>(conn,
                                         "SELECT salt, hash, iterations, name = $1 AS exact FROM accounts"
                                         " WHERE name = $1 OR folded = $2 ORDER BY exact DESC LIMIT 2",
                                         {TextParam(nameText), TextParam(foldedText)}, 1);
            const bool broken = !Is(rows, PGRES_TUPLES_OK) && PQstatus(conn) == CONNECTION_BAD;
            Give(conn);
            if (broken)
                continue;
            if (!Is(rows, PGRES_TUPLES_OK) || PQntuples(rows.get()) == 0)
                return std::nullopt;
            const PGresult* r = rows.get();
            const bool exact = PQgetlength(r, 0, 3) == 1 && PQgetvalue(r, 0, 3)[0] != 0;
            if (!exact && PQntuples(r) > 1)
                return std::nullopt;
            return StoredAccount{BytesAt(r, 0, 0), BytesAt(r, 0, 1), IntAt(r, 0, 2)};
        }
        return std::nullopt;
    }

    InsertResult Insert(std::string_view name, std::string_view folded, const StoredAccount& account) override
    {
        const std::string nameText(name), foldedText(folded), iterations = std::to_string(account.iterations);
        for (int attempt = 0; attempt < 2; ++attempt) {
            PGconn* conn = Take(nullptr);
            if (!conn)
                return InsertResult::Failed;
            const InsertResult result = InsertOn(conn, nameText, foldedText, account, iterations);
            const bool broken = result == InsertResult::Failed && PQstatus(conn) == CONNECTION_BAD;
            Give(conn);
            if (!broken)
                return result;
        }
        return InsertResult::Failed;
    }

    std::optional<LoginRecord> Logins(std::string_view account, std::string_view source) override
    {
        const std::string a(account), src(source);
        const Result row = Run<2>(
            "SELECT"
            " (SELECT failures FROM login_failures WHERE account = $1 AND source = $2),"
            " (SELECT last_failure FROM login_failures WHERE account = $1 AND source = $2),"
            " (SELECT level FROM login_budget WHERE account = $1),"
            " (SELECT updated FROM login_budget WHERE account = $1),"
            " (SELECT last_success FROM login_sources WHERE account = $1 AND source = $2)",
            {TextParam(a), TextParam(src)});
        if (!Is(row, PGRES_TUPLES_OK) || PQntuples(row.get()) != 1)
            return std::nullopt;
        auto number = [&](int column) {
            return PQgetisnull(row.get(), 0, column) ? 0.0
                                                     : std::strtod(PQgetvalue(row.get(), 0, column), nullptr);
        };
        return LoginRecord{static_cast<int>(number(0)), static_cast<std::int64_t>(number(1)), number(2),
                           static_cast<std::int64_t>(number(3)), static_cast<std::int64_t>(number(4))};
    }

    bool NoteFailure(std::string_view account, std::string_view source, std::int64_t now,
                     std::int64_t streakMs, double drainPerMs) override
    {
        const std::string a(account), src(source),
            at = std::to_string(now), streak = std::to_string(streakMs), drain = Real(drainPerMs);
        // One statement, so that a server never counts half a failure.
        const Result done = Run<5>(
            "WITH streak AS (INSERT INTO login_failures (account, source, failures, last_failure)"
            "  VALUES ($1, $2, 1, $3::bigint) ON CONFLICT (account, source) DO UPDATE SET"
            "  failures = CASE WHEN login_failures.last_failure < $3::bigint - $4::bigint THEN 1"
            "  ELSE login_failures.failures + 1 END, last_failure = $3::bigint RETURNING 1)"
            " INSERT INTO login_budget (account, level, updated) VALUES ($1, 1, $3::bigint)"
            " ON CONFLICT (account) DO UPDATE SET level = GREATEST(0, login_budget.level"
            "  - GREATEST(0, $3::bigint - login_budget.updated) * $5::float8) + 1,"
            "  updated = GREATEST(login_budget.updated, $3::bigint)",
            {TextParam(a), TextParam(src), TextParam(at), TextParam(streak), TextParam(drain)});
        return Is(done, PGRES_COMMAND_OK);
    }

    bool NoteSuccess(std::string_view account, std::string_view source, std::int64_t now) override
    {
        const std::string a(account), src(source), at = std::to_string(now);
        const Result done = Run<3>(
            "WITH cleared AS (DELETE FROM login_failures WHERE account = $1 AND source = $2 RETURNING 1)"
            " INSERT INTO login_sources (account, source, last_success) VALUES ($1, $2, $3::bigint)"
            " ON CONFLICT (account, source) DO UPDATE SET last_success = $3::bigint",
            {TextParam(a), TextParam(src), TextParam(at)});
        return Is(done, PGRES_COMMAND_OK);
    }

    void PruneLogins(std::int64_t now, std::int64_t streakMs, double drainPerMs,
                     std::int64_t rememberMs) override
    {
        const std::string streakBefore = std::to_string(now - streakMs), at = std::to_string(now),
                          drain = Real(drainPerMs), rememberBefore = std::to_string(now - rememberMs);
        Run<1>("DELETE FROM login_failures WHERE last_failure < $1::bigint", {TextParam(streakBefore)});
        Run<2>("DELETE FROM login_budget WHERE level - ($1::bigint - updated) * $2::float8 <= 0",
               {TextParam(at), TextParam(drain)});
        Run<1>("DELETE FROM login_sources WHERE last_success < $1::bigint", {TextParam(rememberBefore)});
    }

private:
    // A query on a pooled connection, tried once more on a fresh one when the connection broke.
    template <std::size_t N> Result Run(const char* sql, const std::array<Param, N>& params)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            PGconn* conn = Take(nullptr);
            if (!conn)
                return nullptr;
            Result result = Query<N>(conn, sql, params);
            const bool broken = !result
                || (PQresultStatus(result.get()) != PGRES_COMMAND_OK
                    && PQresultStatus(result.get()) != PGRES_TUPLES_OK && PQstatus(conn) == CONNECTION_BAD);
            Give(conn);
            if (!broken)
                return result;
        }
        return nullptr;
    }

    PGconn* Connect(std::string* error)
    {
        // Settings named before the URI are defaults that the URI's own may replace.
        const char* keys[] = {"connect_timeout", "application_name", "client_encoding", "dbname", nullptr};
        const char* values[] = {"10", "qx77-server", "UTF8", m_uri.c_str(), nullptr};
        PGconn* conn = PQconnectdbParams(keys, values, 1);
        if (PQstatus(conn) != CONNECTION_OK) {
            if (error)
                *error = Message(conn);
            PQfinish(conn);
            return nullptr;
        }
        // Notices ("relation already exists, skipping") are not for the server's log.
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
        return conn;
    }

    PGconn* Take(std::string* error)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_idle.empty()) {
                PGconn* conn = m_idle.back();
                m_idle.pop_back();
                return conn;
            }
        }
        return Connect(error);
    }

    void Give(PGconn* conn)
    {
        if (PQstatus(conn) == CONNECTION_OK && PQtransactionStatus(conn) == PQTRANS_IDLE) {
            std::lock_guard lock(m_mutex);
            if (m_idle.size() < kMaxIdleConnections) {
                m_idle.push_back(conn);
                return;
            }
        }
        PQfinish(conn);
    }

    bool CreateSchema(PGconn* conn, std::string* error)
    {
        // The lock serialises table creation: two servers starting at once would otherwise
        // both try to create it.
        const Result created(PQexec(conn,
                                    "BEGIN;"
                                    "SELECT pg_advisory_xact_lock(770077);"
                                    "CREATE TABLE IF NOT EXISTS accounts ("
                                    " name TEXT NOT NULL UNIQUE,"
                                    " salt BYTEA NOT NULL, hash BYTEA NOT NULL, iterations INTEGER NOT NULL,"
                                    " created TIMESTAMPTZ NOT NULL DEFAULT now(),"
                                    " folded TEXT);"
                                    "CREATE INDEX IF NOT EXISTS accounts_folded ON accounts (folded);"
                                    "CREATE TABLE IF NOT EXISTS login_failures (account TEXT NOT NULL,"
                                    " source TEXT NOT NULL, failures INTEGER NOT NULL,"
                                    " last_failure BIGINT NOT NULL, PRIMARY KEY (account, source));"
                                    "CREATE TABLE IF NOT EXISTS login_budget (account TEXT PRIMARY KEY,"
                                    " level DOUBLE PRECISION NOT NULL, updated BIGINT NOT NULL);"
                                    "CREATE TABLE IF NOT EXISTS login_sources (account TEXT NOT NULL,"
                                    " source TEXT NOT NULL, last_success BIGINT NOT NULL,"
                                    " PRIMARY KEY (account, source));"));
        bool ok = Is(created, PGRES_COMMAND_OK) && FillFolded(conn);
        if (!ok && error)
            *error = Message(conn);
        const Result end(PQexec(conn, ok ? "COMMIT" : "ROLLBACK"));
        ok = ok && Is(end, PGRES_COMMAND_OK);
        if (!ok && error && error->empty())
            *error = Message(conn);
        return ok;
    }

    // Rows brought over from a database written before names were folded get their folded
    // name, as the SQLite store does for its own old rows.
    bool FillFolded(PGconn* conn)
    {
        const Result rows(PQexec(conn, "SELECT name FROM accounts WHERE folded IS NULL"));
        if (!Is(rows, PGRES_TUPLES_OK))
            return false;
        for (int i = 0; i < PQntuples(rows.get()); ++i) {
            const std::string name = PQgetvalue(rows.get(), i, 0);
            const std::string folded = names::Folded(name);
            const Result updated = Query<2>(conn, "UPDATE accounts SET folded = $2 WHERE name = $1",
                                            {TextParam(name), TextParam(folded)});
            if (!Is(updated, PGRES_COMMAND_OK))
                return false;
        }
        return true;
    }

    static InsertResult InsertOn(PGconn* conn, const std::string& name, const std::string& folded,
                                 const StoredAccount& account, const std::string& iterations)
    {
        const Result begin(PQexec(conn, "BEGIN"));
        if (!Is(begin, PGRES_COMMAND_OK))
            return InsertResult::Failed;
        // Registrations of one folded name, from any server, take turns; others run freely.
        const Result locked = Query<1>(conn, "SELECT pg_advisory_xact_lock(hashtextextended($1, 0))",
                                       {TextParam(folded)});
        Result inserted;
        if (Is(locked, PGRES_TUPLES_OK))
            inserted = Query<5>(conn,
                                "INSERT INTO accounts (name, folded, salt, hash, iterations)"
                                " SELECT $1::text, $2::text, $3::bytea, $4::bytea, $5::integer"
                                " WHERE NOT EXISTS (SELECT 1 FROM accounts WHERE name = $1 OR folded = $2)",
                                {TextParam(name), TextParam(folded), BytesParam(account.salt),
                                 BytesParam(account.hash), TextParam(iterations)});
        InsertResult result = InsertResult::Failed;
        if (Is(inserted, PGRES_COMMAND_OK))
            result = std::string_view(PQcmdTuples(inserted.get())) == "1" ? InsertResult::Inserted
                                                                          : InsertResult::Taken;
        else if (const char* state = inserted ? PQresultErrorField(inserted.get(), PG_DIAG_SQLSTATE)
                                              : nullptr;
                 state && std::string_view(state) == "23505")
            result = InsertResult::Taken; // unique_violation: the name arrived by another way
        const Result end(PQexec(conn, result == InsertResult::Inserted ? "COMMIT" : "ROLLBACK"));
        if (result == InsertResult::Inserted && !Is(end, PGRES_COMMAND_OK))
            return InsertResult::Failed;
        return result;
    }

    std::string m_uri;
    std::mutex m_mutex; // guards m_idle; a connection is used by one thread at a time
    std::vector<PGconn*> m_idle;
};

} // namespace

bool IsPostgresUri(std::string_view location)
{
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::unique_ptr<AccountStore> OpenPostgresStore(const std::string& uri, std::string* error)
{
    auto store = std::make_unique<PostgresStore>();
    if (!store->Open(uri, error))
        return nullptr;
    return store;
}
