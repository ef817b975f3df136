// Prints what the account store adds to a login: look-ups per second by exact name, by a
// look-alike spelling (the folded fallback) and for unknown names, on the SQLite file and, when
// a URI is given, on PostgreSQL (one thread, then 4), beside the single query by name that
// logins made before names were folded, and the PBKDF2 hash every login pays anyway.
//   accounts_bench [postgresql://…]

#include "accounts.h"
#include "accountstore.h"
#include "names.h"

#include <sqlite3.h>

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kAccounts = 20000;
constexpr int kLookups = 20000;

double PerSecond(int count, const std::function<void(int)>& step, int threads = 1)
{
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = t; i < count; i += threads)
                step(i);
        });
    for (std::thread& w : workers)
        w.join();
    return count / std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Name(int i)
{
    return "player" + std::to_string(i);
}

// Fills the store (without hashing: the look-ups are what is measured) and prints its rates.
bool Measure(const char* label, AccountStore& store, double hashesPerSecond)
{
    const StoredAccount account{std::vector<unsigned char>(16, 1), std::vector<unsigned char>(32, 2), 40000};
    int failed = 0;
    const double inserts = PerSecond(kAccounts, [&](int i) {
        const std::string name = Name(i);
        failed += store.Insert(name, names::Folded(name), account) != AccountStore::InsertResult::Inserted;
    });
    std::atomic<int> misses{0};
    auto find = [&](const std::string& name, bool expected) {
        if (store.Find(name, names::Folded(name)).has_value() != expected)
            ++misses;
    };
    const double exact = PerSecond(kLookups, [&](int i) { find(Name(i % kAccounts), true); });
    const double folded = PerSecond(kLookups,
                                    [&](int i) { find(" PLAYER" + std::to_string(i % kAccounts), true); });
    const double unknown = PerSecond(kLookups, [&](int i) { find("nobody" + std::to_string(i), false); });
    const double exact4 = PerSecond(
        kLookups, [&](int i) { find(Name(i % kAccounts), true); }, 4);
    if (failed || misses) {
        std::fprintf(stderr, "accounts_bench: %s: %d inserts and %d look-ups went wrong\n", label, failed,
                     misses.load());
        return false;
    }
    std::printf("%s, %d accounts: %.0f registrations/s (without hashing)\n", label, kAccounts, inserts);
    std::printf("  look-ups/s: exact %.0f, look-alike %.0f, unknown %.0f, exact from 4 threads %.0f\n", exact,
                folded, unknown, exact4);
    std::printf("  a look-up costs %.2f %% of a login's hash (exact), %.2f %% (look-alike)\n",
                100 * hashesPerSecond / exact, 100 * hashesPerSecond / folded);
    return true;
}

// The look-up logins made before: one query by name, ignoring ASCII case.
double SingleQueryLookups(const std::string& path)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT salt, hash, iterations FROM accounts WHERE name = ?", -1, &stmt, nullptr);
    const double rate = PerSecond(kLookups, [&](int i) {
        const std::string name = Name(i % kAccounts);
        sqlite3_reset(stmt);
        sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_step(stmt);
    });
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rate;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("bench.db")).toStdString();
    std::string error;

    Accounts accounts;
    if (!accounts.Open(dir.filePath(QStringLiteral("hash.db")).toStdString(), &error)) {
        std::fprintf(stderr, "accounts_bench: %s\n", error.c_str());
        return 1;
    }
    const double hashes = PerSecond(20, [&](int) { accounts.Check("nobody", "password"); });
    const double folds = PerSecond(kLookups,
                                   [](int i) { names::Folded(" ＰＬＡＹＥＲ" + std::to_string(i)); });
    std::printf("password hash (a login of an unknown name), one thread: %.1f/s; name folds: %.0f/s\n",
                hashes, folds);

    auto sqlite = OpenSqliteStore(path, &error);
    if (!sqlite || !Measure("SQLite", *sqlite, hashes))
        return 1;
    const double before = SingleQueryLookups(path);
    std::printf("  the single query by name of earlier versions: %.0f/s\n", before);

    if (argc > 1) {
        auto postgres = OpenPostgresStore(argv[1], &error);
        if (!postgres) {
            std::fprintf(stderr, "accounts_bench: %s\n", error.c_str());
            return 1;
        }
        if (!Measure("PostgreSQL (Unix socket)", *postgres, hashes))
            return 1;
    } else {
        std::printf("PostgreSQL: not measured (give a postgresql:// URI, or use scripts/bench accounts)\n");
    }
    return 0;
}
