#include "pagehost/pagevalue.h"

#include <QJsonArray>

#include <cmath>
#include <limits>

namespace pagehost {

namespace {

const QString kMismatch = QStringLiteral("type mismatch");
const QString kOverflow = QStringLiteral("overflow");

std::optional<int> intFromDouble(double value, QString* error)
{
    if (std::isnan(value)) {
        *error = kOverflow;
        return std::nullopt;
    }
    const double rounded = std::nearbyint(value); // default rounding mode: half to even
    if (rounded < double(std::numeric_limits<int>::min())
        || rounded > double(std::numeric_limits<int>::max())) {
        *error = kOverflow;
        return std::nullopt;
    }
    return int(rounded);
}

// How automation writes a double as text: whole numbers without a fraction, others with up to
// 15 significant digits and an upper-case exponent.
QString textFromDouble(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'G', 15);
}

} // namespace

std::optional<int> IntFromText(QStringView text, QString* error)
{
    const QStringView t = text.trimmed();
    QString digits;
    digits.reserve(t.size());
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        digits.append(t[i++]);
    bool anyDigit = false;
    bool seenPoint = false;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c.isDigit() && c.unicode() < 128) {
            digits.append(c);
            anyDigit = true;
        } else if (c == u',' && anyDigit && !seenPoint) {
            continue; // thousands separator
        } else if (c == u'.' && !seenPoint) {
            digits.append(c);
            seenPoint = true;
        } else {
            break;
        }
    }
    if (anyDigit && i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
        QString exponent(1, u'e');
        qsizetype j = i + 1;
        if (j < t.size() && (t[j] == u'+' || t[j] == u'-'))
            exponent.append(t[j++]);
        const qsizetype firstDigit = j;
        while (j < t.size() && t[j].isDigit() && t[j].unicode() < 128)
            exponent.append(t[j++]);
        if (j > firstDigit) {
            digits.append(exponent);
            i = j;
        }
    }
    if (!anyDigit || i != t.size()) {
        *error = kMismatch;
        return std::nullopt;
    }
    bool ok = false;
    const double value = digits.toDouble(&ok);
    if (!ok && !std::isinf(value)) {
        *error = kMismatch;
        return std::nullopt;
    }
    return intFromDouble(value, error);
}

PageConversion ConvertPageArgument(const QJsonValue& tagged, PageType type)
{
    const QJsonArray a = tagged.toArray();
    const QString kind = a.at(0).toString();
    const QJsonValue payload = a.at(1);
    PageConversion out;

    switch (type) {
    case PageType::Int: {
        std::optional<int> v;
        if (kind == u"n")
            v = intFromDouble(payload.toDouble(), &out.error);
        else if (kind == u"f") // a number JSON cannot carry: NaN or an infinity
            out.error = kOverflow;
        else if (kind == u"s")
            v = IntFromText(payload.toString(), &out.error);
        else if (kind == u"b")
            v = payload.toBool() ? -1 : 0;
        else if (kind == u"u")
            v = 0;
        else if (kind == u"o")
            v = IntFromText(a.at(2).toString(), &out.error); // the object's value as text
        else
            out.error = kMismatch; // null and symbols
        if (v)
            out.value = *v;
        return out;
    }
    case PageType::String:
        if (kind == u"s")
            out.value = payload.toString();
        else if (kind == u"n")
            out.value = textFromDouble(payload.toDouble());
        else if (kind == u"f")
            out.value = payload.toString();
        else if (kind == u"b")
            out.value = payload.toBool() ? QStringLiteral("-1") : QStringLiteral("0");
        else if (kind == u"u")
            out.value = QString();
        else if (kind == u"o")
            out.value = a.at(2).toString();
        else
            out.error = kMismatch;
        return out;
    case PageType::Object:
        if (kind == u"o")
            out.value = PageObject{payload.toString()};
        else
            out.error = kMismatch;
        return out;
    case PageType::Bool:
    case PageType::None:
        break;
    }
    out.error = kMismatch;
    return out;
}

QJsonValue PageResultToJson(const PageValue& value)
{
    if (const int* i = std::get_if<int>(&value))
        return *i;
    if (const QString* s = std::get_if<QString>(&value))
        return *s;
    if (const bool* b = std::get_if<bool>(&value))
        return *b;
    return QJsonValue::Null;
}

} // namespace pagehost
