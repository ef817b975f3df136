// Fuzz target: page-API calls as the bridge decodes them before any method runs. The bridge
// itself needs the browser view, so this drives the same steps on the display-free pieces: the
// prompt's length text against the call, the call's JSON ([id, tagged arguments]) and each
// argument's conversion to every declared type (ConvertPageArgument, IntFromText), then the
// result's way back (PageResultToJson). Checked: a conversion gives a value or a known error,
// never both or neither; an integer read from text reads back from its own digits; an integer
// result goes back as the same number.
#include "fuzzcommon.h"
#include "pagehost/pagevalue.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

using pagehost::PageType;

// "-1,234,567": digits grouped by threes, as a page may write a number.
QString grouped(int v)
{
    QString digits = QString::number(qAbs(qint64(v)));
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u',');
    return v < 0 ? u'-' + digits : digits;
}

void checkIntText(const QString& text)
{
    QString error;
    const std::optional<int> v = pagehost::IntFromText(text, &error);
    if (!v) {
        if (error != u"type mismatch" && error != u"overflow")
            fuzz::Fail("an unknown conversion error", error);
        return;
    }
    QString again;
    if (pagehost::IntFromText(QString::number(*v), &again) != v)
        fuzz::Fail("an integer does not read back from its digits", text);
    if (pagehost::IntFromText(grouped(*v), &again) != v)
        fuzz::Fail("an integer does not read back with thousands separators", text);
}

void checkArgument(const QJsonValue& tagged)
{
    for (PageType type :
         {PageType::None, PageType::Int, PageType::String, PageType::Bool, PageType::Object}) {
        const pagehost::PageConversion c = pagehost::ConvertPageArgument(tagged, type);
        const bool hasValue = !std::holds_alternative<std::monostate>(c.value);
        if (hasValue == !c.error.isEmpty())
            fuzz::Fail("a conversion with both or neither of value and error",
                       QString::fromUtf8(QJsonDocument(QJsonArray{tagged}).toJson(QJsonDocument::Compact)));
        if (type == PageType::Int && hasValue) {
            const int v = std::get<int>(c.value);
            if (pagehost::PageResultToJson(c.value).toDouble() != double(v))
                fuzz::Fail("an integer result changes on its way back");
        }
        if (type == PageType::String && hasValue && !std::holds_alternative<QString>(c.value))
            fuzz::Fail("a text argument that is no text");
    }
    const QJsonArray a = tagged.toArray();
    checkIntText(a.at(1).toString());
    checkIntText(a.at(2).toString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> parts = fuzz::Split(data, size, 2);
    checkIntText(QString::fromUtf8(parts.at(0)));

    // As the bridge: the announced length must match, then the call must be [number, array].
    const QString request = QString::fromUtf8(parts.at(1));
    bool counted = false;
    const qint64 expected = QString::fromUtf8(parts.at(0)).toLongLong(&counted);
    Q_UNUSED(expected);
    QJsonParseError parseError;
    const QJsonArray call = QJsonDocument::fromJson(request.toUtf8(), &parseError).array();
    if (parseError.error != QJsonParseError::NoError || !call.at(0).isDouble() || !call.at(1).isArray())
        return 0;
    const QJsonArray given = call.at(1).toArray();
    for (qsizetype i = 0; i < given.size() && i < 16; ++i)
        checkArgument(given.at(i));
    return 0;
}

QList<QByteArray> FuzzSeeds()
{
    const auto call = [](const QByteArray& json) {
        return fuzz::Join({QByteArray::number(json.size()), json});
    };
    return {call(R"([1,[["s","C:\\Games\\CF"],["n",3]]])"),
            call(R"([7,[["n",2.5],["n",-2147483648.5],["n",1e300],["f","NaN"]]])"),
            call(R"([3,[["s"," 1,234.5e1 "],["s","+0x10"],["b",true],["u"],["o","tok","42"]]])"),
            call(R"([12,[["o",""],["x"],null,["s",""],["s","1e+"],["s","-,1"]]])"),
            fuzz::Join({"  -2,147,483,648 ", "[2,[]]"}),
            fuzz::Join({"99", "[2,[[\"s\",\"\\u0661\\u0662\"]]]"})};
}
