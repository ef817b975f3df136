#include "application.h"
#include "desktopsession.h"
#include "startuptrace.h"

int main(int argc, char** argv)
{
    StartStartupClock();
    ZARODAre::KeepLauncherToken();
    ChooseDisplayPlatform();
    ZARODAre app(argc, argv);
    StartupMark("translations, desktop id");
    app.InitInstance();
    return app.ExitInstance();
}
