#pragma once
// Each module has one test program; every test class in it registers itself here and the
// shared main() runs them all, in registration order, passing the command line through
// (so `config_test -functions` and `config_test IniTest::readDefaults` work as usual).
// Two runners provide that main(): testrunner_gui.cpp under QApplication for widget and browser
// tests, testrunner_core.cpp under QCoreApplication for the libraries that need no display, so
// a test there that reaches for one fails instead of passing by accident.

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

namespace testrunner {

using Factory = std::function<std::unique_ptr<QObject>()>;
int Register(const char* name, Factory factory);

template <typename T> int RegisterClass(const char* name)
{
    return Register(name, [] { return std::make_unique<T>(); });
}

// Runs the registered classes with the application's arguments and returns the combined status;
// each runner's main() calls it once its application object exists.
int RunAll(QStringList arguments);

} // namespace testrunner

// For a case that runs with a flag off and on: its _data() adds the bool column `column` and
// the rows `whenFalse` and `whenTrue`.
void AddFlagRows(const char* column, const char* whenFalse, const char* whenTrue);

#define YFZS_TEST_CLASS(Class) static const int Class##_registered = testrunner::RegisterClass<Class>(#Class);
