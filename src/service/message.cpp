#include "service/message.h"

#include "platform/codec.h"

namespace service {

QString BuildRequest(QLatin1String code, const QStringList& fields, LengthUnit unit)
{
    const QString head = u'^' + QString(code) + kSeparator;
    QString tail(kSeparator);
    for (const QString& field : fields)
        tail += field + kSeparator;
    tail += u'~';

    qsizetype length = 0;
    if (unit == LengthUnit::Utf16Units)
        length = head.size() + 10 + tail.size();
    else // ten placeholder digits stand in for the field while counting
        length = platform::AnsiLength(QString(head + QStringLiteral("0123456789") + tail));

    const QString digits = QString::number(length).rightJustified(10, u'0');
    return head + digits + tail;
}

QByteArray EncodeRequest(const QString& request)
{
    QByteArray bytes = platform::ToAnsi(request);
    bytes.append('\0');
    bytes.append('\0');
    return bytes;
}

QString DecodeReply(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    return platform::FromAnsi(end < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes).first(end));
}

} // namespace service

int SplitString(const QString& text, QChar separator, QStringList& fields)
{
    fields = text.split(separator, Qt::KeepEmptyParts);
    return int(fields.size());
}
