#pragma once
// GBK <-> UTF-8 for the service protocol: the client sends its text in the system ANSI code
// page, which for this product is GBK (code page 936).

#include <optional>
#include <string>
#include <string_view>

namespace gbk {

// Nothing when the bytes are not valid GBK.
std::optional<std::string> ToUtf8(std::string_view gbkBytes);
// Nothing when the text is not valid UTF-8 or holds a character GBK cannot encode.
std::optional<std::string> FromUtf8(std::string_view utf8);

// Number of UTF-16 code units of valid UTF-8 text.
std::size_t Utf16Length(std::string_view utf8);

} // namespace gbk
