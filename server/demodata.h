#pragma once
// Fills a data folder with demo content: packs of the three kinds with previews, the repair
// archive, the pack and version catalogues, and the demo account. Running it again refreshes
// the files and keeps existing accounts.

#include <string>

inline constexpr const char* kDemoUser = "demo";
inline constexpr const char* kDemoPassword = "demo123";
inline constexpr const char* kDemoVersion = "1.0.0";
inline constexpr const char* kDemoSertime = "20261201000000";

struct DemoOptions
{
    // Packs of a few MB (one of about 50 MB) whose download progress can be watched; small
    // ones, of a few KB, otherwise.
    bool realisticPacks = false;
    // Where the demo account goes: a database as Accounts::Open takes it; empty for the
    // accounts file in the data folder.
    std::string database;
};

bool MakeDemoData(const std::string& dataDir, std::string* error = nullptr, const DemoOptions& options = {});
