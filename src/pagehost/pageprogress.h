#pragma once
// Carries download reports to the page's OnDownloadProgress(status, idHigh, idLow, percent).
// A report from a worker thread runs the page's function on the user-interface thread while
// the worker waits, so reports reach the page one at a time and in order. A report made on
// the user-interface thread during a page API call (the page's script is blocked in that
// call) is handed back with the call's answer and runs before the call returns to the page.
// Only the document the page registered through SetCallBack hears reports, and only if it
// defines the function.
// Workers elsewhere wait for the user-interface thread through platform::RunOnUiThread; a worker
// here waits on a semaphore instead, because the page's function has run only when the script's
// answer comes back, after the queued call has returned, and because a worker must be let go
// when the renderer dies or the relay closes, which a blocking queued call cannot do.

#include <QJsonArray>
#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QWebEnginePage;

namespace pagehost {

class PageProgressRelay : public QObject
{
    Q_OBJECT

public:
    explicit PageProgressRelay(QWebEnginePage* page);
    ~PageProgressRelay() override;

    // The registered document's token (empty: none). User-interface thread.
    void SetDocument(const QString& token);
    QString Document() const;

    // Any thread. On a worker it returns once the page's function has run (or at once when no
    // document is registered, or when the page goes away meanwhile).
    void Invoke(int status, int high, int low, int percent);

    // From here on reports are dropped; workers waiting for the page are let go.
    void Close();

    // Around each page API call, on the user-interface thread.
    void BeginCall();
    QJsonArray EndCall();

private:
    struct Waiter;
    void Deliver(const QJsonArray& report, const std::shared_ptr<Waiter>& waiter);
    void ReleaseAll();

    QWebEnginePage* m_page;
    mutable QMutex m_lock;
    QString m_token;
    bool m_closed = false;
    int m_active = 0; // workers inside Invoke
    std::vector<std::shared_ptr<Waiter>> m_waiting;
    int m_callDepth = 0;
    QJsonArray m_pending;
};

} // namespace pagehost
