#include "toolpagefixture.h"

#include "app/mainwindow.h"
#include "config/inifile.h"
#include "config/programdir.h"
#include "config/settingskeys.h"
#include "pagehost/htmlctrl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <QWebEnginePage>

DemoServer::~DemoServer()
{
    Stop();
}

QString DemoServer::DataDir() const
{
    return m_temp.filePath(QStringLiteral("data"));
}

QString DemoServer::GameDir() const
{
    return m_temp.filePath(QStringLiteral("game"));
}

bool DemoServer::Start()
{
    const QString server = QFileInfo(QStringLiteral(YFZS_EXECUTABLE)).absolutePath()
        + QStringLiteral("/qx77-server");
    if (!m_temp.isValid() || !QFileInfo(server).isExecutable())
        return false;
    if (QProcess::execute(server, {QStringLiteral("--make-demo"), DataDir(), QStringLiteral("--small-packs")})
        != 0)
        return false;

    m_server.setProgram(server);
    m_server.setArguments({QStringLiteral("--quiet"), QStringLiteral("--tool-port"), QStringLiteral("0"),
                           QStringLiteral("--service-port"), QStringLiteral("0"), DataDir()});
    m_server.start();
    if (!m_server.waitForStarted())
        return false;
    // The chosen ports come as two lines on standard error.
    static const QRegularExpression toolLine(QStringLiteral("tool page http://127\\.0\\.0\\.1:(\\d+)/"));
    static const QRegularExpression serviceLine(QStringLiteral("service host 127\\.0\\.0\\.1:(\\d+)"));
    QString log;
    if (!QTest::qWaitFor(
            [&] {
                log += QString::fromUtf8(m_server.readAllStandardError());
                return log.contains(toolLine) && log.contains(serviceLine);
            },
            15000))
        return false;
    m_env.Set("QX77_HOST", "127.0.0.1");
    m_env.Set("QX77_TOOL_PORT", toolLine.match(log).captured(1).toLatin1());
    m_env.Set("QX77_SERVICE_PORT", serviceLine.match(log).captured(1).toLatin1());
    m_env.Set("XDG_DATA_HOME", QFile::encodeName(m_temp.filePath(QStringLiteral("xdg-data"))));
    m_env.Set("XDG_CONFIG_HOME", QFile::encodeName(m_temp.filePath(QStringLiteral("xdg-config"))));

    QFile exe(GameDir() + QStringLiteral("/QQLogin.exe"));
    return QDir().mkpath(GameDir() + QStringLiteral("/rez")) && exe.open(QIODevice::WriteOnly)
        && exe.write("MZ") == 2;
}

bool DemoServer::Stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return true;
    m_server.terminate();
    // A clean stop on SIGTERM; killed only if it hangs.
    if (!m_server.waitForFinished(10000)) {
        m_server.kill();
        m_server.waitForFinished(5000);
        return false;
    }
    return m_server.exitStatus() == QProcess::NormalExit && m_server.exitCode() == 0;
}

bool WriteStartConfig(const QString& gameDir)
{
    const QString config = config::GetConfigPath();
    return WriteIniString(config, config::keys::kYfzsVer, config::keys::kVersion, QStringLiteral("1.0.0"))
        && WriteIniString(config, config::keys::kYfzsVer, config::keys::kSerTime,
                          QStringLiteral("20261201000000"))
        && (gameDir.isEmpty()
            || WriteIniString(config, config::keys::kCfInfo, config::keys::kFolder, gameDir));
}

QString DownloadPath(const QString& file)
{
    return GetProgramDir() + QStringLiteral("Downloads/") + file;
}

QWebEnginePage* PageOf(const DEZIRUdu& window)
{
    return window.BrowserView()->page();
}

std::unique_ptr<DEZIRUdu> MakeMainWindow()
{
    auto window = std::make_unique<DEZIRUdu>();
    window->OnInitDialog();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("main window not active");
    return window;
}

std::unique_ptr<DEZIRUdu> MakeToolPageWindow(int packs)
{
    std::unique_ptr<DEZIRUdu> window = MakeMainWindow();
    QWebEnginePage* page = PageOf(*window);
    const bool listed = QTest::qWaitFor(
        [&] {
            return RunJs(page, QStringLiteral("document.querySelectorAll('#packs .pack').length")).toInt()
                == packs;
        },
        kPageTimeoutMs);
    if (!listed)
        qWarning("the tool page did not list %d packs", packs);
    return window;
}

QVariant RunJs(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kPageTimeoutMs))
        qWarning("script gave no answer: %s", qPrintable(script));
    return result;
}

QString OnCard(const QString& name, const QString& expression)
{
    return QStringLiteral("(function(){ const c = [...document.querySelectorAll('#packs .pack')]"
                          ".find(c => c.querySelector('.name').textContent === '%1');"
                          " if (!c) return null; return %2; })()")
        .arg(name, expression);
}

QString CardState(QWebEnginePage* page, const QString& name)
{
    return RunJs(page, OnCard(name, QStringLiteral("c.querySelector('.state').textContent"))).toString();
}

void Click(QWebEnginePage* page, const QString& name, const char* button)
{
    RunJs(page,
          OnCard(name, QStringLiteral("(c.querySelector('.%1').click(), true)").arg(QLatin1String(button))));
}
