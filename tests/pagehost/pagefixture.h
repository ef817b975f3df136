#pragma once
// A real browser view on real pages: the shared loopback HTTP server serving the test's pages,
// a main window holding a CHtmlCtrl where the program puts it, and helpers to load a page and
// run script in it. The tool server's address points at the test server, so its pages are the
// tool page's origin; the same server reached as "localhost" is another origin.

#include "httpfixture.h"
#include "testenv.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QVariant>

#include <memory>

class CHtmlCtrl;
class QWidget;

class PageFixture
{
public:
    PageFixture();
    ~PageFixture();

    LoopbackHttpServer& Server();
    CHtmlCtrl* View();
    QWidget* MainWindow();

    QString ToolUrl(const QString& path) const;    // http://127.0.0.1:port/path
    QString ForeignUrl(const QString& path) const; // http://localhost:port/path
    // Serves `html` at `path` as a UTF-8 page.
    void Page(const QByteArray& path, const QString& html);

    // Loads and waits for the load to finish; false on a failed load or time-out.
    bool Load(const QString& url);
    // Serves `html` at `path` on the tool origin and loads it.
    bool LoadToolPage(const QByteArray& path, const QString& html);
    // Runs `script` in the main frame and returns its value (waits for it).
    QVariant Eval(const QString& script);
    // Eval of "JSON.stringify((function(){ body })())", parsed.
    QJsonValue Json(const QString& body);

private:
    EnvGuard m_env; // the tool server's address, put back last
    std::unique_ptr<LoopbackHttpServer> m_server;
    std::unique_ptr<QWidget> m_main;
    CHtmlCtrl* m_view = nullptr;
};
