#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "platform/fileio.h"
#include "platform/singleinstance.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

const QString kTitle = QStringLiteral("QX77 云帆助手");

// Runs the event loop until `done` holds or the time is up.
template <typename Pred> bool waitUntil(Pred done, int ms = 20000)
{
    return QTest::qWaitFor(done, ms);
}

} // namespace

// Start-up with the real executable, copied into a temporary program folder, and a temporary
// home so the per-user lock and socket are the test's own.
class StartupTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_programDir;
    EnvGuard m_env;
    QString m_exe;

    std::unique_ptr<QProcess> start(const QStringList& args, const QString& workDir = {},
                                    const QString& tmpDir = {}, const QString& home = {})
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.isEmpty() ? m_home.path() : home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!tmpDir.isEmpty())
            env.insert(QStringLiteral("TMPDIR"), tmpDir);
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(workDir.isEmpty() ? m_programDir.path() : workDir);
        p->start(m_exe, args);
        p->waitForStarted();
        return p;
    }

    // Waits until a real first instance listens.
    bool waitListening() const
    {
        return waitUntil([] { return QFile::exists(platform::SingleInstance::SocketPath(kTitle)); });
    }

    static void stop(QProcess& p)
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_programDir.isValid());
        // The test process shares the home, so it can act as a first instance itself.
        m_env.Set("HOME", QFile::encodeName(m_home.path()));
        m_exe = m_programDir.filePath(QStringLiteral("YFZS"));
        QVERIFY(QFile::copy(QStringLiteral(YFZS_EXECUTABLE), m_exe));
        QFile::setPermissions(m_exe, QFile::permissions(m_exe) | QFile::ExeOwner);
    }

    void secondStartDeliversItsArgumentUnchanged_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii") << QStringList{QStringLiteral("VEDERU77://127.0.0.1:8088/packs/ui.zip&2")}
                               << QStringLiteral("VEDERU77://127.0.0.1:8088/packs/ui.zip&2");
        QTest::newRow("chinese") << QStringList{QStringLiteral("VEDERU77://例子.cn/资源/准星.zip&1")}
                                 << QStringLiteral("VEDERU77://例子.cn/资源/准星.zip&1");
        const QString longLink = QStringLiteral("VEDERU77://h/") + QString(1980, u'x')
            + QStringLiteral(".zip&3");
        QTest::newRow("2000 characters") << QStringList{longLink} << longLink;
        QTest::newRow("extra arguments ignored")
            << QStringList{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")}
            << QStringLiteral("first");
    }
    void secondStartDeliversItsArgumentUnchanged()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);

        platform::SingleInstance first(kTitle);
        QVERIFY(first.TryBecomeFirst());
        QStringList received;
        QElapsedTimer clock;
        clock.start();
        qint64 handlerReturned = -1;
        connect(&first, &platform::SingleInstance::LinkReceived, this, [&](const QString& link) {
            received << link;
            // Handling takes a while (an install dialog in the real program): the sender must
            // wait for it.
            QEventLoop loop;
            QTimer::singleShot(600, &loop, &QEventLoop::quit);
            loop.exec();
            handlerReturned = clock.elapsed();
        });

        auto second = start(args);
        qint64 secondEnded = -1;
        connect(second.get(), &QProcess::finished, this, [&] { secondEnded = clock.elapsed(); });
        QVERIFY(waitUntil([&] { return secondEnded >= 0; }));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(received, QStringList{expected});
        QVERIFY2(secondEnded >= handlerReturned,
                 qPrintable(QStringLiteral("ended at %1 ms, handler returned at %2 ms")
                                .arg(secondEnded)
                                .arg(handlerReturned)));
    }

    // The launcher's token comes along: Wayland's, else X11's startup id, else none.
    void secondStartWithoutArgumentOnlyActivates()
    {
        platform::SingleInstance first(kTitle);
        QVERIFY(first.TryBecomeFirst());
        QSignalSpy activated(&first, &platform::SingleInstance::ActivationRequested);
        QSignalSpy links(&first, &platform::SingleInstance::LinkReceived);
        EnvGuard env;
        const std::pair<const char*, const char*> launchers[] = {
            {"", "launcher-1_TIME42"}, {"wayland-2", "launcher-1_TIME42"}, {"", ""}};
        for (const auto& [wayland, x11] : launchers) {
            env.Set("XDG_ACTIVATION_TOKEN", wayland);
            env.Set("DESKTOP_STARTUP_ID", x11);
            auto second = start({});
            QVERIFY(waitUntil([&] { return second->state() == QProcess::NotRunning; }));
        }
        env.Set("XDG_ACTIVATION_TOKEN", "with-link");
        auto withLink = start({QStringLiteral("VEDERU77://h/a.zip&1")});
        QVERIFY(waitUntil([&] { return withLink->state() == QProcess::NotRunning; }));
        QCOMPARE(activated.count(), 3);
        QCOMPARE(activated.at(0).at(0).toString(), QStringLiteral("launcher-1_TIME42"));
        QCOMPARE(activated.at(1).at(0).toString(), QStringLiteral("wayland-2"));
        QCOMPARE(activated.at(2).at(0).toString(), QString());
        QCOMPARE(links.count(), 1);
        QCOMPARE(links.at(0).at(1).toString(), QStringLiteral("with-link"));
    }

    void manyStartsAtOnceAllArrive()
    {
        platform::SingleInstance first(kTitle);
        QVERIFY(first.TryBecomeFirst());
        QStringList received;
        connect(&first, &platform::SingleInstance::LinkReceived, this,
                [&](const QString& l) { received << l; });

        std::vector<std::unique_ptr<QProcess>> seconds;
        QStringList sent;
        for (int i = 0; i < 10; ++i) {
            sent << QStringLiteral("VEDERU77://h/pack%1.zip&1").arg(i);
            seconds.push_back(start({sent.back()}));
        }
        QVERIFY(waitUntil([&] {
            for (auto& p : seconds)
                if (p->state() != QProcess::NotRunning)
                    return false;
            return true;
        }));
        for (auto& p : seconds)
            QCOMPARE(p->exitCode(), 0);
        received.sort();
        sent.sort();
        QCOMPARE(received, sent);
    }

    void foundFromAnyWorkingFolderAndTmpDir()
    {
        platform::SingleInstance first(kTitle);
        QVERIFY(first.TryBecomeFirst());
        QSignalSpy links(&first, &platform::SingleInstance::LinkReceived);
        QTemporaryDir elsewhere;
        auto second = start({QStringLiteral("moved")}, elsewhere.path(), elsewhere.path());
        QVERIFY(waitUntil([&] { return second->state() == QProcess::NotRunning; }));
        QCOMPARE(links.count(), 1);
        QCOMPARE(links.at(0).at(0).toString(), QStringLiteral("moved"));

        auto fromRoot = start({QStringLiteral("from root")}, QStringLiteral("/"),
                              QStringLiteral("/nonexistent"));
        QVERIFY(waitUntil([&] { return fromRoot->state() == QProcess::NotRunning; }));
        QCOMPARE(links.count(), 2);
    }

    void noAnsweringInstanceEndsSilently()
    {
        // Someone alive holds the lock but nobody listens: the later start gives up on its own.
        platform::FileLock lock(platform::SingleInstance::LockPath(kTitle));
        QVERIFY(lock.Acquire(0));
        auto second = start({QStringLiteral("lost")});
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(second->readAllStandardError().indexOf("lost") < 0);
    }

    void startsWhereNoLockCanBeKept()
    {
        // A home whose state folder cannot be made: the program runs instead of ending unseen.
        QTemporaryDir home;
        QVERIFY(writeFile(home.filePath(QStringLiteral(".local/state")), "not a folder"));
        EnvGuard env;
        env.Set("QT_LOGGING_RULES", "yfzs.startup=true");
        auto p = start({}, {}, {}, home.path());
        QByteArray log;
        QVERIFY(waitUntil([&] {
            log += p->readAllStandardError();
            return log.contains("main window object") || p->state() == QProcess::NotRunning;
        }));
        QVERIFY2(log.contains("no single-instance lock"), log.constData());
        QCOMPARE(p->state(), QProcess::Running);
        stop(*p);
    }

    void realFirstInstanceKeepsRunningAndHandsPendingLinkOnce()
    {
        auto first = start({QStringLiteral("VEDERU77://h/pending.zip&2")});
        QVERIFY(waitListening());
        QByteArray log;
        QVERIFY(waitUntil([&] {
            log += first->readAllStandardError();
            return log.contains("link: VEDERU77://h/pending.zip&2");
        }));
        // Once only: the timer does not fire again.
        QTest::qWait(500);
        log += first->readAllStandardError();
        QCOMPARE(log.count("link: VEDERU77"), 1);

        // A later start without argument ends at once; the first keeps running.
        auto second = start({});
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(first->state(), QProcess::Running);
        stop(*first);
    }

    void killedFirstInstanceDoesNotBlockTheNext()
    {
        auto first = start({});
        QVERIFY(waitListening());
        stop(*first); // kill -9: lock file and socket stay behind

        auto next = start({});
        QVERIFY(waitListening());
        QTest::qWait(1000);
        QCOMPARE(next->state(), QProcess::Running); // it became the first instance

        // And it answers later starts.
        auto later = start({});
        QVERIFY(later->waitForFinished(20000));
        QCOMPARE(next->state(), QProcess::Running);
        platform::SingleInstance probe(kTitle);
        QVERIFY(!probe.TryBecomeFirst());
        stop(*next);
    }
};

YFZS_TEST_CLASS(StartupTest)
#include "startup_test.moc"
