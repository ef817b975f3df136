#pragma once
// CHtmlCtrl, the browser view that fills the main window's body with the tool page. It is also
// the page API object: the tool page reaches its 23 methods as window.external (see
// pageapitable.h for the table, dochostsite.h for the host policy the page runs under).
// Page API methods run on the user-interface thread while the page's script waits.

#include "pagehost/pagevalue.h"

#include <QWebEngineView>

#include <memory>

class CDocHostSite;
namespace pagehost {
class PageProgressRelay;
} // namespace pagehost

class CHtmlCtrl : public QWebEngineView
{
    Q_OBJECT

public:
    explicit CHtmlCtrl(QWidget* parent = nullptr);
    ~CHtmlCtrl() override;

    void Navigate(const QString& url);
    void Refresh();           // reload after a login attempt
    void RepaintByHideShow(); // hide and show again, so the page repaints completely

    CDocHostSite* Site() const;

    // Runs one page API call (the bridge's declared length and call text, see pagebridge.h)
    // and answers it. Called by the site.
    QString HandlePageCall(QStringView length, QStringView request);

    // Reports a download to the page's OnDownloadProgress; any thread, see pageprogress.h.
    void InvokePageProgress(int status, int idHigh, int idLow, int percent);

    // The page API, in table order. Window handles are the program's own top-level window ids.
    int GetVersion();
    void MoveWindow();
    int GetMainWindow();
    int SendMessage(int window, int message, int wParam, int lParam);
    void ShowPageWindow();
    int GetParentWindow();
    int ShowWindow(int window, int command);
    void MaxOrNormalWindow();
    int DownloadFile(const QString& address, const QString& fileName, int idHigh, int idLow);
    int PauseDownload(int idHigh, int idLow);
    int SetCallBack(const pagehost::PageObject& document);
    QString GetAppPath();
    bool RunExe(const QString& path);
    bool FindCF();
    bool FindTYF();
    QString GetConfigString(const QString& section, const QString& key, const QString& file);
    int SetConfigString(const QString& section, const QString& key, const QString& value,
                        const QString& file);
    int UnzipFile(const QString& archive, const QString& folder);
    int DeleteFile(const QString& path);
    int CopyFile(const QString& source, const QString& target);
    // Replaces an existing target file, but never loses it for nothing: a missing source, or a
    // source that is the target itself (under another name too), returns 0 and leaves the target
    // as it was, where deleting the target first and then moving would destroy it.
    int MoveFile(const QString& source, const QString& target);
    QString GetRegString(int root, const QString& subKey, const QString& valueName);
    QString GetFilePath(const QString& path);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ConnectDownloads();
    void DisconnectDownloads();

    class DownloadSink;

    CDocHostSite* m_site;
    pagehost::PageProgressRelay* m_progress;
    std::shared_ptr<DownloadSink> m_downloadSink;
};
