#include "application.h"
#include "desktopsession.h"
#include "mainwindow.h"

#include "singleinstance.h"

#include <optional>

namespace {
QString g_pendingLink;
}

ZARODAre::ZARODAre(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("YFZS"));
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
        platform::SingleInstance::Forward(title, argument);
        return false;
    }

    CheckDataFolder();
    if (argument)
        g_pendingLink = *argument;

    DEZIRUdu window;
    connect(&instance, &platform::SingleInstance::ActivationRequested, &window, &DEZIRUdu::BringToFront);
    connect(&instance, &platform::SingleInstance::LinkReceived, &window, [&window](const QString& link) {
        window.BringToFront();
        window.OnCopyData(link);
    });
    m_exitCode = window.DoModal();
    return false;
}

int ZARODAre::ExitInstance()
{
    return 0;
}
