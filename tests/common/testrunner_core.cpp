// main() of the test programs for the libraries that run without a display (platform, config,
// archive, service, download, the server): a QCoreApplication only, so nothing they test can
// lean on a GUI application unnoticed.

#include "testrunner.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return testrunner::RunAll(app.arguments());
}
