#pragma once
// The service protocol's text layout: requests are "^" + code, a ten-digit length, the data
// fields and "~", separated by DC1 and sent as GBK with two zero bytes; replies are GBK text
// cut at DC1 into fields.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace service {

inline constexpr QChar kSeparator{0x11}; // DC1

inline constexpr QLatin1String kUpdateCheckCode{"11"};
inline constexpr QLatin1String kLoginCode{"12"};

// What the length field counts: the update check counts UTF-16 units, the login GBK bytes.
enum class LengthUnit { Utf16Units, AnsiBytes };

// The request text for `code` with its data fields in order. The length field is padded with
// zeros to ten digits; a longer number is written in full.
QString BuildRequest(QLatin1String code, const QStringList& fields, LengthUnit unit);

// The bytes that go on the wire: the text as GBK, its terminator and one more zero byte.
QByteArray EncodeRequest(const QString& request);

// The reply text: the bytes up to the first zero byte (all of them if none), from GBK.
QString DecodeReply(const QByteArray& bytes);

} // namespace service

// Cuts `text` at every `separator` into `fields`: k separators give k + 1 fields, empty ones
// included (an empty text gives one empty field). Returns the number of fields.
int SplitString(const QString& text, QChar separator, QStringList& fields);
