#pragma once
// The program's own page for a tool page that cannot be loaded (connection refused, time-out,
// name not found, HTTP 5xx): "无法连接工具服务器，正在重试…" in the skin's colours, with a retry
// button, laid over the browser view. It retries by itself, 2 s after the first failure and then
// twice as long each time up to 30 s, and gets out of the way as soon as the page loads, so the
// tool page comes back without the user doing anything. The engine's own error page is switched
// off: an English "This site can't be reached" is never what the user sees. A server whose
// certificate does not verify gets "无法验证服务器身份，正在重试…" instead, and its page is never
// shown: the engine refused it before any of it loaded.

#include <QUrl>
#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;
class QWebEngineLoadingInfo;
class QWebEngineView;

namespace pagehost {

class OfflinePage : public QWidget
{
    Q_OBJECT

public:
    // Watches `view`'s page (set before this is made) and covers the view while it is offline.
    explicit OfflinePage(QWebEngineView* view);
    ~OfflinePage() override;

    static QString Message();
    // Shown instead when the server's certificate did not verify.
    static QString IdentityMessage();
    // The text on show.
    QString Text() const;

    // Shown over the view now.
    bool IsShowing() const;
    // The page it will load again, and the wait before the next automatic attempt.
    QUrl FailedUrl() const;
    int NextRetryMs() const;
    // How long a page may take to load before it counts as unreachable (default 20 s).
    void SetLoadTimeout(int ms);

    // The button: try again now.
    void Retry();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void OnLoadTimedOut();
    void ShowFor(const QUrl& url, const QString& text);
    void BuildContents();

    QWebEngineView* m_view;
    QPushButton* m_button = nullptr;
    QLabel* m_text = nullptr;
    QTimer* m_retry;
    QTimer* m_loadTimer;
    QUrl m_loading;
    QUrl m_failed;
    int m_delayMs;
    int m_pendingDelayMs = 0;
};

} // namespace pagehost
