#include "application.h"

int main(int argc, char** argv)
{
    ZARODAre app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}
