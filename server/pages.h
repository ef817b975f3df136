#pragma once
// The tool server's generated pages: the resource site that offers packs as VEDERU77 links,
// and the answer to the registration form.

#include "packcatalogue.h"

#include <string>
#include <string_view>
#include <vector>

std::string HtmlEscape(std::string_view text);

// The links point at `hostAndPort`; when it is empty, at the address the visitor's browser
// used (the page completes them itself, so no cache can mix visitors up).
std::string ResourceSitePage(const std::vector<Pack>& packs, std::string_view hostAndPort);
std::string RegisterResultPage(std::string_view message, bool created);

// Chinese names of the pack kinds.
std::string KindName(int kind);
std::string HumanSize(std::uint64_t bytes);
