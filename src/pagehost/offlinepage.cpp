#include "pagehost/offlinepage.h"

#include "pagehost/pagelog.h"
#include "widgets/pngresource.h"

#include <QEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>

namespace pagehost {

namespace {

constexpr int kFirstRetryMs = 2000;
constexpr int kLongestRetryMs = 30000;
constexpr int kLoadTimeoutMs = 20000;
constexpr int kNetAborted = -3; // a load replaced by the next one: nothing is wrong

// The skin's title strip and accent (res/ is drawn with the same).
const QColor kTop(0x2c, 0x3e, 0x55);
const QColor kBottom(0x13, 0x1d, 0x29);
const QColor kText(0xe8, 0xef, 0xf6);
const QColor kAccent(0x3d, 0x8b, 0xd9);
const QColor kAccentDark(0x24, 0x5f, 0x9e);

bool isUnreachable(const QWebEngineLoadingInfo& info)
{
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        return info.errorCode() >= 500;
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
        return false;
    return info.errorCode() != kNetAborted;
}

} // namespace

OfflinePage::OfflinePage(QWebEngineView* view)
    : QWidget(view)
    , m_view(view)
    , m_retry(new QTimer(this))
    , m_loadTimer(new QTimer(this))
    , m_delayMs(kFirstRetryMs)
{
    setObjectName(QStringLiteral("offlinePage"));
    hide();

    // An empty view behind this page, never the engine's error text.
    m_view->page()->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    connect(m_view->page(), &QWebEnginePage::loadingChanged, this, &OfflinePage::OnLoadingChanged);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &OfflinePage::Retry);
    m_loadTimer->setSingleShot(true);
    m_loadTimer->setInterval(kLoadTimeoutMs);
    connect(m_loadTimer, &QTimer::timeout, this, &OfflinePage::OnLoadTimedOut);
    m_view->installEventFilter(this);
}

// Made the first time the page is needed: the icon and the styled button cost milliseconds that
// a start with the tool server up should not spend before its first page.
void OfflinePage::BuildContents()
{
    if (m_button)
        return;
    auto* icon = new QLabel(this);
    icon->setPixmap(widgets::LoadIconResource(160).pixmap(64, 64));
    icon->setAlignment(Qt::AlignCenter);
    m_text = new QLabel(Message(), this);
    m_text->setObjectName(QStringLiteral("offlineText"));
    QFont font = m_text->font();
    font.setPixelSize(16);
    m_text->setFont(font);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setStyleSheet(QStringLiteral("color: %1;").arg(kText.name()));
    m_button = new QPushButton(QStringLiteral("重试"), this);
    m_button->setObjectName(QStringLiteral("offlineRetry"));
    m_button->setCursor(Qt::PointingHandCursor);
    m_button->setFixedSize(120, 32);
    m_button->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3;"
                       " border-radius: 4px; font-size: 14px; }"
                       "QPushButton:hover { background: %4; }")
            .arg(kText.name(), kAccent.name(), kAccentDark.name(), kAccent.lighter(115).name()));
    connect(m_button, &QPushButton::clicked, this, &OfflinePage::Retry);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(3);
    layout->addWidget(icon);
    layout->addSpacing(12);
    layout->addWidget(m_text);
    layout->addSpacing(16);
    layout->addWidget(m_button, 0, Qt::AlignHCenter);
    layout->addStretch(4);
}

OfflinePage::~OfflinePage() = default;

QString OfflinePage::Message()
{
    return QStringLiteral("无法连接工具服务器，正在重试…");
}

QString OfflinePage::IdentityMessage()
{
    return QStringLiteral("无法验证服务器身份，正在重试…");
}

QString OfflinePage::Text() const
{
    return m_text ? m_text->text() : QString();
}

bool OfflinePage::IsShowing() const
{
    return !isHidden();
}

QUrl OfflinePage::FailedUrl() const
{
    return m_failed;
}

int OfflinePage::NextRetryMs() const
{
    return m_pendingDelayMs;
}

void OfflinePage::SetLoadTimeout(int ms)
{
    m_loadTimer->setInterval(ms);
}

void OfflinePage::Retry()
{
    m_retry->stop();
    if (m_failed.isValid())
        m_view->load(m_failed);
}

void OfflinePage::OnLoadingChanged(const QWebEngineLoadingInfo& info)
{
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        m_loading = info.url();
        m_loadTimer->start();
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        m_loadTimer->stop();
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
    case QWebEngineLoadingInfo::LoadFailedStatus:
        m_loadTimer->stop();
        break;
    }
    if (isUnreachable(info)) {
        qCWarning(lcPage) << "page not loaded:" << info.url() << info.errorDomain() << info.errorCode()
                          << info.errorString();
        const bool identity = info.errorDomain() == QWebEngineLoadingInfo::CertificateErrorDomain;
        ShowFor(info.url(), identity ? IdentityMessage() : Message());
        return;
    }
    if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus)
        return;
    // Back: the next outage starts the back-off afresh.
    m_retry->stop();
    m_delayMs = kFirstRetryMs;
    m_pendingDelayMs = 0;
    m_failed.clear();
    hide();
}

void OfflinePage::OnLoadTimedOut()
{
    qCWarning(lcPage) << "page took too long:" << m_loading;
    const QUrl url = m_loading;
    m_view->stop();
    ShowFor(url, Message());
}

void OfflinePage::ShowFor(const QUrl& url, const QString& text)
{
    m_failed = url;
    BuildContents();
    m_text->setText(text);
    setGeometry(m_view->rect());
    show();
    raise();
    m_pendingDelayMs = m_delayMs;
    m_retry->start(m_delayMs);
    m_delayMs = std::min(m_delayMs * 2, kLongestRetryMs);
}

bool OfflinePage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::Resize)
        setGeometry(m_view->rect());
    return QWidget::eventFilter(watched, event);
}

void OfflinePage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient fill(0, 0, 0, height());
    fill.setColorAt(0, kTop);
    fill.setColorAt(1, kBottom);
    painter.fillRect(rect(), fill);
}

} // namespace pagehost
