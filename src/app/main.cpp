#include "app/application.h"
#include "app/desktopsession.h"
#include "app/startuptrace.h"

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
