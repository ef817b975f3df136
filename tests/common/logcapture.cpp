#include "logcapture.h"

#include <QMutex>

#include <utility>

namespace {

QMutex g_lock;
QStringList g_messages; // of the one capture that runs; captures do not nest

} // namespace

LogCapture::LogCapture(const QString& category)
{
    {
        QMutexLocker lock(&g_lock);
        g_messages.clear();
    }
    QLoggingCategory::setFilterRules(category + QStringLiteral(".warning=true"));
    m_previous = qInstallMessageHandler(&LogCapture::Collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    QLoggingCategory::setFilterRules(QString());
}

QStringList LogCapture::Take()
{
    QMutexLocker lock(&g_lock);
    return std::exchange(g_messages, {});
}

void LogCapture::Collect(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    QMutexLocker lock(&g_lock);
    g_messages << QString::fromLatin1(context.category) + QStringLiteral(": ") + message;
}
