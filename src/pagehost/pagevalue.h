#pragma once
// Values crossing the page API: what a page script passes (tagged by its script type), the
// declared parameter and result types of the dispatch table, and the conversions between them.
// Arguments convert the way automation converts them: a number given as text is accepted, a
// boolean is -1 or 0, undefined is 0 or "", and anything that cannot become the declared type
// is an error that stops the call before its operation runs.

#include <QJsonValue>
#include <QString>

#include <optional>
#include <variant>

namespace pagehost {

enum class PageType { None, Int, String, Bool, Object };

// An object argument. The only object the page API cares about is the calling page's own
// document; the bridge script marks it with that document's token (empty for any other object).
struct PageObject
{
    QString documentToken;
};

using PageValue = std::variant<std::monostate, int, QString, bool, PageObject>;

struct PageConversion
{
    PageValue value;
    QString error; // empty when the conversion succeeded
};

// `tagged` is one argument as the bridge script sends it: [kind, payload...], see pagebridge.js.
PageConversion ConvertPageArgument(const QJsonValue& tagged, PageType type);

// Text → 32-bit integer the way automation reads a number in text: surrounding blanks, a sign,
// thousands separators, a fraction and an exponent are accepted; the value is rounded half to
// even. Errors: "type mismatch" (not a number) or "overflow" (outside the 32-bit range).
std::optional<int> IntFromText(QStringView text, QString* error);

// A JSON value the bridge script returns to the page as the result (null → undefined).
QJsonValue PageResultToJson(const PageValue& value);

} // namespace pagehost
