#pragma once
// How user names compare. A name is taken without the blanks around it (any Unicode white
// space, the ideographic space of Chinese input included), and two names are the same when
// their NFKC case folds are equal, so "demo", " Demo" and full-width "ｄｅｍｏ" are one name and
// so are Cyrillic or Greek names that differ only by case.

#include <string>
#include <string_view>

namespace names {

// `utf8` without leading and trailing white space; bytes that are not UTF-8 are kept as they are.
std::string Trimmed(std::string_view utf8);

// The comparison form of a name: NFKC with Unicode case folding (default-ignorable characters
// such as zero-width spaces dropped) of the trimmed name. Bytes that are not UTF-8 count as
// U+FFFD.
std::string Folded(std::string_view utf8);

// `text` safe to write into a log line between double quotes: control bytes, '"' and '\\' are
// escaped (\n, \x1b, \", \\), so a name cannot end the line or the quotes and forge another.
std::string ForLog(std::string_view text);

} // namespace names
