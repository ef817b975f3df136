#include "app/application.h"
#include "app/desktopsession.h"
#include "app/mainwindow.h"

#include "app/startuptrace.h"
#include "platform/singleinstance.h"

#include <optional>

namespace {
QString g_pendingLink;
QString g_activationToken; // the launcher's, taken before Qt takes it for its first window
} // namespace

void ZARODAre::KeepLauncherToken()
{
    g_activationToken = platform::SingleInstance::LauncherActivationToken();
}

ZARODAre::ZARODAre(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("YFZS"));
    StartupMark("QApplication");
    SetUpDesktopSession(*this);
    // The main window hides to the tray and dialogs come and go; only the main window's own
    // run decides when the program ends.
    setQuitOnLastWindowClosed(false);
}

const QString& ZARODAre::PendingLink()
{
    return g_pendingLink;
}

bool ZARODAre::InitInstance()
{
    // Only the first argument counts; a desktop launcher passes the whole link as one.
    const QStringList args = arguments();
    std::optional<QString> argument;
    if (args.size() > 1)
        argument = args.at(1);

    const QString title = QString::fromUtf16(kMainWindowTitle);
    platform::SingleInstance instance(title);
    if (!instance.TryBecomeFirst()) {
        // Blocks until the running instance has handled the link; no window of ours ever shows.
        platform::SingleInstance::Forward(title, argument, g_activationToken);
        return false;
    }
    StartupMark("single instance");

    CheckDataFolder();
    StartupMark("data folder");
    if (argument)
        g_pendingLink = *argument;

    DEZIRUdu window;
    StartupMark("main window object");
    connect(&instance, &platform::SingleInstance::ActivationRequested, &window, &DEZIRUdu::BringToFront);
    connect(&instance, &platform::SingleInstance::LinkReceived, &window,
            [&window](const QString& link, const QString& token) {
                window.RaiseForLink(token);
                window.OnCopyData(link);
            });
    // How the window ended does not matter: the program ends with it, and exits with 0.
    window.DoModal();
    return false;
}

int ZARODAre::ExitInstance()
{
    return 0;
}
