#include "testrunner.h"
class Dummy2 : public QObject { Q_OBJECT };
YFZS_TEST_CLASS(Dummy2)
#include "startup_test.moc"
