#pragma once
// Each module has one test program; every test class in it registers itself here and the
// shared main() runs them all, in registration order, passing the command line through
// (so `config_test -functions` and `config_test IniTest::readDefaults` work as usual).

#include <QObject>

#include <functional>
#include <memory>

namespace testrunner {

using Factory = std::function<std::unique_ptr<QObject>()>;
int Register(const char* name, Factory factory);

template <typename T> int RegisterClass(const char* name)
{
    return Register(name, [] { return std::make_unique<T>(); });
}

} // namespace testrunner

#define YFZS_TEST_CLASS(Class) static const int Class##_registered = testrunner::RegisterClass<Class>(#Class);
