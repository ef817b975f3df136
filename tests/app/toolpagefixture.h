#pragma once
// What the tool page tests share: the real qx77-server, with small demo packs, on free loopback
// ports and the program pointed at it; a demo game folder; the real main window offscreen
// showing the page; and scripts that read and press the page's pack cards.

#include "appfixture.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

class DEZIRUdu;
class QWebEnginePage;

inline constexpr int kPageTimeoutMs = 20000;

class DemoServer
{
public:
    DemoServer() = default;
    ~DemoServer();
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    // Makes the demo data and a game folder, starts the server and sets QX77_HOST, the ports
    // and the XDG folders (the window registers the URL scheme at start) for this process.
    bool Start();
    // Stops it with SIGTERM; true when it ended cleanly.
    bool Stop();

    QString DataDir() const; // the server's data folder: packs/, catalogue.json …
    QString GameDir() const; // a game folder as the locator accepts it

private:
    QTemporaryDir m_temp;
    QProcess m_server;
    EnvGuard m_env;
};

// config.ini as a user of this version leaves it: the start-up check finds no newer version
// (so no question box), and the game folder when given.
bool WriteStartConfig(const QString& gameDir);

// The program folder's Downloads/<file>.
QString DownloadPath(const QString& file);

// An initialised, shown and active main window, as start-up leaves it.
std::unique_ptr<DEZIRUdu> MakeMainWindow();
// An initialised, shown and active main window whose tool page has listed `packs` packs.
std::unique_ptr<DEZIRUdu> MakeToolPageWindow(int packs);
QWebEnginePage* PageOf(const DEZIRUdu& window);

// Runs a script in the page and waits for its value.
QVariant RunJs(QWebEnginePage* page, const QString& script);
// A script that evaluates `expression` with `c` the card of the pack shown as `name` (null
// when there is no such card).
QString OnCard(const QString& name, const QString& expression);
QString CardState(QWebEnginePage* page, const QString& name);
void Click(QWebEnginePage* page, const QString& name, const char* button);
