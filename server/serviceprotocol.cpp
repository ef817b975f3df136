#include "serviceprotocol.h"

#include "gbk.h"

#include <algorithm>

namespace svc {
namespace {

bool AllDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string LengthField(std::size_t n)
{
    std::string digits = std::to_string(n);
    if (digits.size() < 10)
        digits.insert(0, 10 - digits.size(), '0');
    return digits;
}

// "^" code DC1 <length> (DC1 field)* DC1 "~", in UTF-8, with the length left to fill in.
std::pair<std::string, std::string> Frame(std::string_view code, const std::vector<std::string>& fields)
{
    std::string head = "^";
    head += code;
    head += kSeparator;
    std::string tail;
    for (const std::string& f : fields) {
        tail += kSeparator;
        tail += f;
    }
    tail += kSeparator;
    tail += '~';
    return {head, tail};
}

// Login requests and all replies count GBK bytes.
std::optional<std::string> EncodeCountingBytes(std::string_view code, const std::vector<std::string>& fields)
{
    auto [head, tail] = Frame(code, fields);
    const auto probe = gbk::FromUtf8(head + "0123456789" + tail);
    if (!probe)
        return std::nullopt;
    auto wire = gbk::FromUtf8(head + LengthField(probe->size()) + tail);
    if (!wire)
        return std::nullopt;
    wire->append(2, '\0');
    return wire;
}

} // namespace

std::vector<std::string_view> SplitFields(std::string_view text)
{
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = text.find(kSeparator, start);
        if (pos == std::string_view::npos) {
            out.push_back(text.substr(start));
            return out;
        }
        out.push_back(text.substr(start, pos - start));
        start = pos + 1;
    }
}

ParseResult ParseRequest(std::string_view text)
{
    ParseResult result;
    if (text.size() > kMaxRequestBytes) {
        result.error = "oversized request";
        return result;
    }
    // DC1, '^' and '~' are single bytes in GBK and never trail bytes, so raw bytes split safely.
    const std::vector<std::string_view> raw = SplitFields(text);
    const std::string_view head = raw.front();
    if (head.size() == 3 && head[0] == '^' && AllDigits(head.substr(1)))
        result.code = std::string(head.substr(1));
    if (raw.size() > 2)
        if (auto mac = gbk::ToUtf8(raw[2]))
            result.mac = *mac;

    if (result.code.empty()) {
        result.error = "no command code";
        return result;
    }
    if (result.code != kUpdateCode && result.code != kLoginCode) {
        result.error = "unknown command " + result.code;
        return result;
    }
    if (raw.size() != kDataFields + 3 || raw.back() != "~") {
        result.error = "wrong field layout";
        return result;
    }
    const std::string_view lengthField = raw[1];
    if (lengthField.size() < 10 || lengthField.size() > 12 || !AllDigits(lengthField)) {
        result.error = "bad length field";
        return result;
    }
    const auto utf8 = gbk::ToUtf8(text);
    if (!utf8) {
        result.error = "text is not GBK";
        return result;
    }
    const std::size_t declared = std::stoull(std::string(lengthField));
    const std::size_t actual = result.code == kLoginCode ? text.size() : gbk::Utf16Length(*utf8);
    if (declared != actual) {
        result.error = "length field " + std::to_string(declared) + " but text has " + std::to_string(actual);
        return result;
    }

    Request request;
    request.code = result.code;
    for (std::size_t i = 2; i < raw.size() - 1; ++i)
        request.fields.push_back(*gbk::ToUtf8(raw[i]));
    result.request = std::move(request);
    return result;
}

std::optional<std::string> BuildReply(std::string_view code, const std::vector<std::string>& dataFields)
{
    auto wire = EncodeCountingBytes(code, dataFields);
    if (!wire || wire->size() > kMaxReplyBytes)
        return std::nullopt;
    return wire;
}

std::optional<std::string> BuildRequest(std::string_view code, const std::vector<std::string>& dataFields)
{
    if (code != kUpdateCode)
        return EncodeCountingBytes(code, dataFields);
    // The update check counts UTF-16 units of the text before conversion.
    auto [head, tail] = Frame(code, dataFields);
    const std::size_t units = gbk::Utf16Length(head) + 10 + gbk::Utf16Length(tail);
    auto wire = gbk::FromUtf8(head + LengthField(units) + tail);
    if (!wire)
        return std::nullopt;
    wire->append(2, '\0');
    return wire;
}

} // namespace svc
