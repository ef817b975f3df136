#pragma once
// The pack catalogue (catalogue.json in the data folder) and the data folder's layout:
//   packs/<file>.zip        resource packs, served under /packs/
//   previews/<file>.png     their preview images, served under /previews/
//   cftoolweb/yxxf.zip      the repair archive
//   versions.json           the version catalogue, accounts.db the accounts
//
// {"packs": [{"file": "mark_red.zip", "name": "红点准星", "kind": 1,
//             "preview": "mark_red.png", "description": "..."}]}
// Kinds: 1 crosshair marks (rez/UI/Mark/), 2 interface skin (rez/UI/), 3 resource pack (rez/).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Pack
{
    std::string file;
    std::string name;
    int kind = 0;
    std::string preview;
    std::string description;
    std::uint64_t size = 0; // of packs/<file>, filled in when loading
};

namespace layout {
inline constexpr std::string_view kPacks = "packs";
inline constexpr std::string_view kPreviews = "previews";
inline constexpr std::string_view kRepairArchive = "cftoolweb/yxxf.zip";
inline constexpr std::string_view kCatalogue = "catalogue.json";
inline constexpr std::string_view kVersions = "versions.json";
inline constexpr std::string_view kAccounts = "accounts.db";
} // namespace layout

// True for a file name that may be served from a folder: letters, digits, ".", "_", "-", no leading dot.
bool IsSafeFileName(std::string_view name);

// Packs whose file exists, with a valid kind and safe names, each file named by one pack only
// (the first); entries that fail are skipped and named in `problems`.
std::optional<std::vector<Pack>> LoadCatalogue(const std::string& dataDir, std::string* error = nullptr,
                                               std::vector<std::string>* problems = nullptr);
// False, writing nothing, when two packs share a file name.
bool SaveCatalogue(const std::string& dataDir, const std::vector<Pack>& packs);

// The catalogue as the tool page reads it; `origin` is "http://host:port".
std::string CatalogueJson(const std::vector<Pack>& packs, std::string_view origin);

// The link that hands a pack to the program: VEDERU77://host:port/packs/file&kind.
std::string PackLink(const Pack& pack, std::string_view hostAndPort);
