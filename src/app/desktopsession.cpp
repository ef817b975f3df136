#include "app/desktopsession.h"

#include "app/startuptrace.h"
#include "config/datafolder.h"
#include "config/programdir.h"
#include "platform/urlscheme.h"
#include "widgets/messagebox.h"
#include "widgets/pngresource.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void ChooseDisplayPlatform()
{
    // Qt 6.4 runs Wayland sessions natively, except GNOME's, where it falls back to Xwayland
    // (for the window decorations a frameless window does not have) and prints a warning at
    // every start. Everything the program does works natively on all of them, so a Wayland
    // session gets Wayland, and X11 only where Qt's Wayland plugin is not installed. A
    // QT_QPA_PLATFORM the user set wins.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qgetenv("XDG_SESSION_TYPE") == "wayland"
        && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
}

void SetUpDesktopSession(QApplication& app)
{
    qCInfo(lcStartup) << "display platform" << QGuiApplication::platformName();
    // The interface is Chinese on any locale; Qt's own texts follow it, and so do the dates and
    // sizes its folder browser shows.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto* qtTexts = new QTranslator(&app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (qtTexts->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), folder))
        QCoreApplication::installTranslator(qtTexts);
    else
        qCWarning(lcStartup) << "no Chinese Qt texts in" << folder << "(package qt6-translations-l10n)";

    // The launcher entry, the window class (from the application name) and the Wayland app id
    // all carry this one id. No display name is set: Qt would append it to every caption.
    QGuiApplication::setDesktopFileName(platform::DesktopFileId());

    // Before the first window: its skin image is decoded while it is being built.
    widgets::ChooseSkinScale();
}

void CheckDataFolder()
{
    if (config::PrepareDataFolder() == config::DataFolderState::NotWritable)
        widgets::msgbox::Show(config::DataFolderMessage(GetProgramDir()));
}
