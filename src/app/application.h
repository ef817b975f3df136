#pragma once
// The application object: start-up, the single-instance hand-over and the main window's
// modal run. The program ends when that run ends; there is no other event loop.

#include <QApplication>
#include <QString>

// The main window's title; a later start finds the running instance by it.
inline constexpr char16_t kMainWindowTitle[] = u"QX77 云帆助手";

class ZARODAre : public QApplication
{
    Q_OBJECT

public:
    ZARODAre(int& argc, char** argv);

    // The whole start-up: forward to a running instance, or run the main window. Returns once
    // the program is to end.
    bool InitInstance();
    int ExitInstance();

    // The first instance's command-line argument, kept for the main window's one-shot timer.
    // Never cleared.
    static const QString& PendingLink();

    // Once, in main() before the application object exists: keeps the launcher's activation
    // token for handing to a running instance.
    static void KeepLauncherToken();
};
