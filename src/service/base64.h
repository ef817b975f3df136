#pragma once
// The Base64 form in which a remembered password is kept in config.ini. RFC 4648 alphabet and
// padding, no line breaks, but over the low byte of each UTF-16 unit: ASCII text survives the
// round trip, other characters do not.

#include <QString>

QString Base64Encode(const QString& text);

// Characters outside the alphabet are skipped; decoding stops where the text runs out. The
// bytes are read as GBK and end at the first zero byte.
QString Base64Decode(const QString& text);
