#include "pagefixture.h"

#include "htmlctrl.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <thread>

TestWebServer::TestWebServer()
    : m_server(std::make_unique<httplib::Server>())
{
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = new std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TestWebServer::~TestWebServer()
{
    m_server->stop();
    m_thread->join();
    delete m_thread;
}

int TestWebServer::Port() const
{
    return m_port;
}

QString TestWebServer::ToolUrl(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

QString TestWebServer::ForeignUrl(const QString& path) const
{
    return QStringLiteral("http://localhost:%1%2").arg(m_port).arg(path);
}

void TestWebServer::Page(const std::string& path, const QString& html)
{
    const std::string body = html.toStdString();
    m_server->Get(path, [body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "text/html; charset=utf-8");
    });
}

void TestWebServer::Get(const std::string& path, Handler handler)
{
    m_server->Get(path, std::move(handler));
}

PageFixture::PageFixture()
    : m_server(std::make_unique<TestWebServer>())
{
    qputenv("QX77_HOST", "127.0.0.1");
    qputenv("QX77_TOOL_PORT", QByteArray::number(m_server->Port()));
    m_main = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
    m_main->resize(800, 600);
    m_view = new CHtmlCtrl(m_main.get());
    m_view->setGeometry(2, 100, 796, 498);
    m_main->show();
}

PageFixture::~PageFixture()
{
    m_main.reset();
    m_server.reset();
}

TestWebServer& PageFixture::Server()
{
    return *m_server;
}

CHtmlCtrl* PageFixture::View()
{
    return m_view;
}

QWidget* PageFixture::MainWindow()
{
    return m_main.get();
}

bool PageFixture::Load(const QString& url)
{
    QSignalSpy finished(m_view, &QWebEngineView::loadFinished);
    m_view->Navigate(url);
    if (!finished.wait(20000))
        return false;
    return finished.last().at(0).toBool();
}

bool PageFixture::LoadToolPage(const std::string& path, const QString& html)
{
    m_server->Page(path, html);
    return Load(m_server->ToolUrl(QString::fromStdString(path)));
}

QVariant PageFixture::Eval(const QString& script)
{
    bool done = false;
    QVariant result;
    m_view->page()->runJavaScript(script, 0, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 20000))
        return QVariant();
    return result;
}

QJsonValue PageFixture::Json(const QString& body)
{
    const QVariant text = Eval(QStringLiteral("JSON.stringify((function(){ %1 })())").arg(body));
    const QByteArray json = "[" + text.toString().toUtf8() + "]";
    return QJsonDocument::fromJson(json).array().at(0);
}
