// How long a page waits for a window.external call: 10,000 GetVersion calls and 2,000
// GetConfigString calls on a 200-key config.ini, each timed in the page, against the round trip
// of a Qt WebChannel call (the usual asynchronous Qt bridge) from the same page in the same run.
// The page is served cross-origin isolated so that performance.now() has fine resolution.
#include "htmlctrl.h"

#include <httplib.h>

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <cstdio>
#include <functional>
#include <thread>

class Echo : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE int ping(int value) { return value; }
};

namespace {

const char* kPage = R"html(<!DOCTYPE html><html><body><script>
function stats(times) {
    times.sort((a, b) => a - b);
    const at = q => times[Math.min(times.length - 1, Math.floor(q * times.length))];
    return {n: times.length, median: at(0.5), p99: at(0.99), mean: times.reduce((a, b) => a + b, 0) / times.length};
}
function timeSync(n, call) {
    const times = new Array(n);
    for (let i = 0; i < n; ++i) {
        const t0 = performance.now();
        call(i);
        times[i] = performance.now() - t0;
    }
    return stats(times);
}
window.runSync = function (ini) {
    return JSON.stringify({
        isolated: self.crossOriginIsolated,
        getVersion: timeSync(10000, () => window.external.GetVersion()),
        getConfig: timeSync(2000, i => window.external.GetConfigString('system', 'key' + (i % 200), ini)),
    });
};
window.runChannel = function (n) {
    window.channelResult = null;
    new QWebChannel(qt.webChannelTransport, channel => {
        const echo = channel.objects.echo;
        const times = [];
        let i = 0;
        const next = () => {
            const t0 = performance.now();
            echo.ping(i, () => {
                times.push(performance.now() - t0);
                if (++i < n) next(); else window.channelResult = JSON.stringify(stats(times));
            });
        };
        next();
    });
};
</script></body></html>)html";

// Waits in a real event loop: polling loops that sleep between rounds would add their sleep to
// every round trip measured.
QVariant Eval(CHtmlCtrl& view, const QString& script)
{
    QEventLoop loop;
    QVariant result;
    view.page()->runJavaScript(script, 0, [&](const QVariant& v) {
        result = v;
        loop.quit();
    });
    loop.exec();
    return result;
}

void WaitFor(const std::function<bool()>& condition)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (condition())
            loop.quit();
    });
    poll.start(50);
    loop.exec();
}

void Print(const char* label, const QJsonObject& s)
{
    std::printf("%-34s n=%-6d median %.4f ms   p99 %.4f ms   mean %.4f ms\n", label, s.value(u"n").toInt(),
                s.value(u"median").toDouble(), s.value(u"p99").toDouble(), s.value(u"mean").toDouble());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);

    httplib::Server server;
    server.Get("/bench.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cross-Origin-Opener-Policy", "same-origin");
        res.set_header("Cross-Origin-Embedder-Policy", "require-corp");
        res.set_content(kPage, "text/html; charset=utf-8");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    qputenv("QX77_HOST", "127.0.0.1");
    qputenv("QX77_TOOL_PORT", QByteArray::number(port));

    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    {
        QFile f(ini);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("[system]\r\n");
        for (int i = 0; i < 200; ++i)
            f.write(QStringLiteral("key%1=value number %1\r\n").arg(i).toUtf8());
    }

    QWidget main;
    main.resize(800, 600);
    CHtmlCtrl view(&main);
    view.setGeometry(2, 100, 796, 498);

    Echo echo;
    QWebChannel channel;
    channel.registerObject(QStringLiteral("echo"), &echo);
    view.page()->setWebChannel(&channel, QWebEngineScript::MainWorld);
    QFile channelJs(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    if (channelJs.open(QIODevice::ReadOnly)) {
        QWebEngineScript script;
        script.setName(QStringLiteral("qwebchannel"));
        script.setSourceCode(QString::fromUtf8(channelJs.readAll()));
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::MainWorld);
        view.page()->scripts().insert(script);
    }
    main.show();

    bool loaded = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool ok) { loaded = ok; });
    view.Navigate(QStringLiteral("http://127.0.0.1:%1/bench.html").arg(port));
    WaitFor([&] { return loaded; });

    const QString iniJson = QString::fromUtf8(QJsonDocument(QJsonArray{ini}).toJson(QJsonDocument::Compact));
    const QJsonObject sync =
        QJsonDocument::fromJson(Eval(view, QStringLiteral("runSync(%1[0])").arg(iniJson)).toString().toUtf8()).object();
    Eval(view, QStringLiteral("runChannel(2000)"));
    WaitFor([&] { return Eval(view, QStringLiteral("window.channelResult !== null")).toBool(); });
    const QJsonObject web =
        QJsonDocument::fromJson(Eval(view, QStringLiteral("window.channelResult")).toString().toUtf8()).object();

    std::printf("page timer resolution: %s\n",
                sync.value(u"isolated").toBool() ? "fine (cross-origin isolated)" : "coarse (not isolated)");
    const QJsonObject gv = sync.value(u"getVersion").toObject();
    Print("window.external.GetVersion", gv);
    Print("window.external.GetConfigString", sync.value(u"getConfig").toObject());
    Print("QWebChannel call (async)", web);
    const double webMedian = web.value(u"median").toDouble();
    if (webMedian > 0)
        std::printf("GetVersion median / WebChannel median: %.2f   (goal: <= 1, and median <= 0.35 ms)\n",
                    gv.value(u"median").toDouble() / webMedian);

    server.stop();
    serving.join();
    return 0;
}

#include "pageapi_bench.moc"
