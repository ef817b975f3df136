#include "testrunner.h"
class Dummy : public QObject { Q_OBJECT };
YFZS_TEST_CLASS(Dummy)
#include "ini_test.moc"
