#include "pagefixture.h"

#include "pagehost/htmlctrl.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

PageFixture::PageFixture()
    : m_server(std::make_unique<LoopbackHttpServer>())
{
    if (!m_server->Start())
        qFatal("cannot start the loopback HTTP server");
    m_env.Set("QX77_HOST", "127.0.0.1");
    m_env.Set("QX77_TOOL_PORT", QByteArray::number(m_server->Port()));
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

LoopbackHttpServer& PageFixture::Server()
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

QString PageFixture::ToolUrl(const QString& path) const
{
    return m_server->Url(path);
}

QString PageFixture::ForeignUrl(const QString& path) const
{
    return m_server->Url(path, QStringLiteral("localhost"));
}

void PageFixture::Page(const QByteArray& path, const QString& html)
{
    TestResource page(html.toUtf8());
    page.contentType = "text/html; charset=utf-8";
    m_server->Put(path, page);
}

bool PageFixture::LoadToolPage(const QByteArray& path, const QString& html)
{
    Page(path, html);
    return Load(ToolUrl(QString::fromUtf8(path)));
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
