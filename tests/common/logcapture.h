#pragma once
// Catches the warnings one logging category writes while it lives, from every thread (workers
// log too): the categories are off by default, so it switches its own on and off again.

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

class LogCapture
{
public:
    // `category` as written in the filter rules, e.g. "yfzs.install".
    explicit LogCapture(const QString& category);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every message so far as "category: text"; the list is emptied.
    QStringList Take();

private:
    static void Collect(QtMsgType type, const QMessageLogContext& context, const QString& message);

    QtMessageHandler m_previous = nullptr;
};
