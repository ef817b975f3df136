#include "pagehost/pageprogress.h"

#include <QJsonDocument>
#include <QSemaphore>
#include <QThread>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <algorithm>
#include <atomic>

namespace pagehost {

struct PageProgressRelay::Waiter
{
    QSemaphore done;
    std::atomic<bool> abandoned{false};
};

PageProgressRelay::PageProgressRelay(QWebEnginePage* page)
    : QObject(page)
    , m_page(page)
{
    // A renderer that died never answers: its waiting workers must not hang.
    connect(page, &QWebEnginePage::renderProcessTerminated, this, &PageProgressRelay::ReleaseAll);
}

PageProgressRelay::~PageProgressRelay()
{
    Close();
    // Workers still inside Invoke leave it promptly once released; wait so none touches us.
    for (;;) {
        {
            QMutexLocker guard(&m_lock);
            if (m_active == 0)
                break;
        }
        QThread::yieldCurrentThread();
    }
}

void PageProgressRelay::Close()
{
    {
        QMutexLocker guard(&m_lock);
        m_closed = true;
    }
    ReleaseAll();
}

void PageProgressRelay::SetDocument(const QString& token)
{
    QMutexLocker guard(&m_lock);
    m_token = token;
}

QString PageProgressRelay::Document() const
{
    QMutexLocker guard(&m_lock);
    return m_token;
}

void PageProgressRelay::BeginCall()
{
    ++m_callDepth;
}

QJsonArray PageProgressRelay::EndCall()
{
    if (--m_callDepth > 0)
        return {};
    return std::exchange(m_pending, {});
}

void PageProgressRelay::Invoke(int status, int high, int low, int percent)
{
    QString token;
    {
        QMutexLocker guard(&m_lock);
        if (m_closed || m_token.isEmpty())
            return;
        token = m_token;
    }
    const QJsonArray report{token, status, high, low, percent};

    if (QThread::currentThread() == thread()) {
        Deliver(report, nullptr);
        return;
    }

    auto waiter = std::make_shared<Waiter>();
    {
        QMutexLocker guard(&m_lock);
        if (m_closed)
            return;
        m_waiting.push_back(waiter);
        ++m_active;
    }
    QMetaObject::invokeMethod(
        this, [this, report, waiter] { Deliver(report, waiter); }, Qt::QueuedConnection);
    while (!waiter->done.tryAcquire(1, 100)) {
        if (waiter->abandoned)
            break;
    }
    QMutexLocker guard(&m_lock);
    std::erase(m_waiting, waiter);
    --m_active;
}

void PageProgressRelay::Deliver(const QJsonArray& report, const std::shared_ptr<Waiter>& waiter)
{
    if (!waiter && m_callDepth > 0) {
        m_pending.append(report); // the page's script is blocked in the call; it runs these
        return;
    }
    const QString args = QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact));
    const QString script =
        QStringLiteral("window.__yfzsDeliver && window.__yfzsDeliver(%1)").arg(args.mid(1, args.size() - 2));
    m_page->runJavaScript(script, QWebEngineScript::MainWorld, [waiter](const QVariant&) {
        if (waiter)
            waiter->done.release();
    });
}

void PageProgressRelay::ReleaseAll()
{
    QMutexLocker guard(&m_lock);
    for (const auto& waiter : m_waiting) {
        waiter->abandoned = true;
        waiter->done.release();
    }
}

} // namespace pagehost
