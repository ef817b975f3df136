#include "pagehost/htmlctrl.h"

#include "pagehost/dochostsite.h"
#include "pagehost/offlinepage.h"
#include "pagehost/pagebridge.h"
#include "pagehost/pageprogress.h"
#include "platform/memorytrim.h"

#include <QContextMenuEvent>

CHtmlCtrl::CHtmlCtrl(QWidget* parent)
    : QWebEngineView(parent)
    , m_site(new CDocHostSite(this))
    , m_progress(new pagehost::PageProgressRelay(m_site))
{
    setPage(m_site);
    setContextMenuPolicy(Qt::NoContextMenu);

    // Page loads leave a lot of freed heap behind; hand it back as the loads go.
    connect(m_site, &QWebEnginePage::loadProgress, this, [] { platform::TrimFreeMemory(); });
    connect(m_site, &QWebEnginePage::loadFinished, this, [] { platform::TrimFreeMemory(); });

    ConnectDownloads();
    // Our own page, not the engine's, while the tool server cannot be reached.
    new pagehost::OfflinePage(this);
}

CHtmlCtrl::~CHtmlCtrl()
{
    DisconnectDownloads();
    // The page goes before the view; the relay (its child) releases any waiting worker.
    setPage(nullptr);
    delete m_site;
}

void CHtmlCtrl::Navigate(const QString& url)
{
    load(QUrl(url));
}

void CHtmlCtrl::Refresh()
{
    reload();
}

void CHtmlCtrl::RepaintByHideShow()
{
    hide();
    show();
}

CDocHostSite* CHtmlCtrl::Site() const
{
    return m_site;
}

QString CHtmlCtrl::HandlePageCall(QStringView length, QStringView request)
{
    m_progress->BeginCall();
    bool ended = false;
    QString answer = pagehost::bridge::Dispatch(*this, length, request, [this, &ended] {
        ended = true;
        return m_progress->EndCall();
    });
    if (!ended)
        m_progress->EndCall(); // the call was refused before its operation ran
    return answer;
}

void CHtmlCtrl::InvokePageProgress(int status, int idHigh, int idLow, int percent)
{
    m_progress->Invoke(status, idHigh, idLow, percent);
}

int CHtmlCtrl::SetCallBack(const pagehost::PageObject& document)
{
    // Only the calling page's own document registers; any other object changes nothing.
    if (!document.documentToken.isEmpty())
        m_progress->SetDocument(document.documentToken);
    return 0;
}

void CHtmlCtrl::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept(); // no context menu anywhere on the page
}
