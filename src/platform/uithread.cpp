#include "platform/uithread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace platform {

void RunOnUiThread(const std::function<void()>& call, QObject* context)
{
    if (!context)
        context = QCoreApplication::instance();
    if (!context || context->thread() == QThread::currentThread())
        call();
    else
        QMetaObject::invokeMethod(context, call, Qt::BlockingQueuedConnection);
}

} // namespace platform
