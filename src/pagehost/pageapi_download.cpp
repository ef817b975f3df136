// Page API: download jobs for the page, and the wiring of their reports to the page.
#include "pagehost/htmlctrl.h"

#include "download/downloadjobs.h"
#include "pagehost/pageprogress.h"

#include <QMutex>
#include <QThread>

// The job table's view of the page. It outlives the browser view when a worker still holds
// it; once detached it drops reports, and Detach returns only after no call is inside the view.
class CHtmlCtrl::DownloadSink final : public download::PageProgressSink
{
public:
    explicit DownloadSink(CHtmlCtrl* view)
        : m_view(view)
    {
    }

    void InvokePageProgress(int status, int idHigh, int idLow, int percent) override
    {
        CHtmlCtrl* view;
        {
            QMutexLocker guard(&m_lock);
            view = m_view;
            if (!view)
                return;
            ++m_active;
        }
        view->InvokePageProgress(status, idHigh, idLow, percent);
        QMutexLocker guard(&m_lock);
        --m_active;
    }

    void Detach()
    {
        {
            QMutexLocker guard(&m_lock);
            m_view = nullptr;
        }
        for (;;) {
            {
                QMutexLocker guard(&m_lock);
                if (m_active == 0)
                    return;
            }
            QThread::yieldCurrentThread();
        }
    }

private:
    QMutex m_lock;
    CHtmlCtrl* m_view;
    int m_active = 0;
};

namespace {

std::weak_ptr<download::PageProgressSink> g_currentSink; // user-interface thread only

} // namespace

int CHtmlCtrl::DownloadFile(const QString& address, const QString& fileName, int idHigh, int idLow)
{
    return ::DownloadFile(address, fileName, idHigh, idLow);
}

int CHtmlCtrl::PauseDownload(int idHigh, int idLow)
{
    return ::PauseDownload(idHigh, idLow);
}

void CHtmlCtrl::ConnectDownloads()
{
    m_downloadSink = std::make_shared<DownloadSink>(this);
    g_currentSink = m_downloadSink;
    download::SetPageProgressSink(m_downloadSink);
}

void CHtmlCtrl::DisconnectDownloads()
{
    if (g_currentSink.lock() == m_downloadSink)
        download::SetPageProgressSink(nullptr);
    m_progress->Close(); // releases workers waiting for the page
    m_downloadSink->Detach();
}
