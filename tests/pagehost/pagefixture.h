#pragma once
// A real browser view on real pages: a loopback HTTP server serving the test's pages, a main
// window holding a CHtmlCtrl where the program puts it, and helpers to load a page and run
// script in it. The tool server's address points at the test server, so its pages are the
// tool page's origin; the same server reached as "localhost" is another origin.

#include <QJsonValue>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

class CHtmlCtrl;
class QWidget;

namespace httplib {
class Server;
class Response;
struct Request;
} // namespace httplib

class TestWebServer
{
public:
    TestWebServer();
    ~TestWebServer();

    int Port() const;
    QString ToolUrl(const QString& path) const;    // http://127.0.0.1:port/path
    QString ForeignUrl(const QString& path) const; // http://localhost:port/path

    void Page(const std::string& path, const QString& html);
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    void Get(const std::string& path, Handler handler);

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread* m_thread = nullptr;
    int m_port = 0;
};

class PageFixture
{
public:
    PageFixture();
    ~PageFixture();

    TestWebServer& Server();
    CHtmlCtrl* View();
    QWidget* MainWindow();

    // Loads and waits for the load to finish; false on a failed load or time-out.
    bool Load(const QString& url);
    // Serves `html` at `path` on the tool origin and loads it.
    bool LoadToolPage(const std::string& path, const QString& html);
    // Runs `script` in the main frame and returns its value (waits for it).
    QVariant Eval(const QString& script);
    // Eval of "JSON.stringify((function(){ body })())", parsed.
    QJsonValue Json(const QString& body);

private:
    std::unique_ptr<TestWebServer> m_server;
    std::unique_ptr<QWidget> m_main;
    CHtmlCtrl* m_view = nullptr;
};
