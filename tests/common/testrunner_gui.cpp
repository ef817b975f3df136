// main() of the test programs for widgets, dialogs and the browser view.

#include "testrunner.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    return testrunner::RunAll(app.arguments());
}
