#pragma once
// The version catalogue (versions.json in the data folder): the newest client release that the
// update check offers, and the rule that decides whether a client is older than it.
//
// {"version": "1.2.0", "sertime": "20261201120000", "clientadd": "http://.../YFZS-1.2.0.zip"}

#include <optional>
#include <string>
#include <string_view>

struct Release
{
    std::string version;
    std::string sertime;
    std::string clientadd;
};

// Nothing, with a message in `error`, when the file is missing or malformed.
std::optional<Release> LoadRelease(const std::string& path, std::string* error = nullptr);
bool SaveRelease(const std::string& path, const Release& release);

// True when the client's (version, sertime) is older than the release's. Versions compare by
// dot-separated parts, numerically where both parts are numbers; server-time stamps compare
// as numbers. An empty value is older than any other.
bool IsOlder(std::string_view clientVersion, std::string_view clientSertime, const Release& release);

// -1, 0, 1 like strcmp, by the version rule above.
int CompareVersions(std::string_view a, std::string_view b);
