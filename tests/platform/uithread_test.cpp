#include "testrunner.h"

#include "platform/uithread.h"

#include <QObject>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

class UiThreadTest : public QObject
{
    Q_OBJECT

private slots:
    // A worker's call runs on the application's thread, and the worker goes on only once it
    // has run; on that thread itself the call runs at once.
    void workerWaitsForApplicationThread()
    {
        QThread* const appThread = QThread::currentThread();
        QThread* ranOn = nullptr;
        platform::RunOnUiThread([&] { ranOn = QThread::currentThread(); });
        QCOMPARE(ranOn, appThread);

        ranOn = nullptr;
        QThread* seenByWorker = nullptr;
        std::atomic<bool> done = false;
        std::thread worker([&] {
            platform::RunOnUiThread([&] { ranOn = QThread::currentThread(); });
            seenByWorker = ranOn;
            done = true;
        });
        QTRY_VERIFY(done.load());
        worker.join();
        QCOMPARE(seenByWorker, appThread);
    }

    // A context living on another thread takes the call there.
    void contextThreadRunsTheCall()
    {
        QThread other;
        other.start();
        QObject context;
        context.moveToThread(&other);
        QThread* ranOn = nullptr;
        platform::RunOnUiThread([&] { ranOn = QThread::currentThread(); }, &context);
        QCOMPARE(ranOn, &other);
        other.quit();
        QVERIFY(other.wait());
    }
};

YFZS_TEST_CLASS(UiThreadTest)
#include "uithread_test.moc"
