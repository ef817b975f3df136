#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "launcher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Stand-ins for wine and xdg-open (and a native program): each writes what it was started
// with - its name, arguments, prefix and working folder - then moves the record into place.
const QByteArray kRecorder =
    "#!/bin/sh\n"
    "{ printf 'name=%s\\n' \"${0##*/}\"; for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done;\n"
    "  printf 'prefix=%s\\n' \"$WINEPREFIX\"; printf 'cwd=%s\\n' \"$(pwd)\"; } > \"$YFZS_LAUNCH_LOG.tmp\"\n"
    "mv \"$YFZS_LAUNCH_LOG.tmp\" \"$YFZS_LAUNCH_LOG\"\n";

void writeExecutable(const QString& path, const QByteArray& bytes)
{
    QVERIFY(writeFile(path, bytes));
    QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser));
}

} // namespace

class LauncherTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<EnvGuard> m_env;
    QByteArray m_path; // the stand-ins first, then the system's programs
    QString m_savedCwd;

    QString path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }
    QString log() const { return path("launch.log"); }

    // Runs OpenWithShell and returns the helper's record, or "" when nothing was started.
    QStringList launch(const QString& target, bool expectStart = true)
    {
        QFile::remove(log());
        const bool started = platform::OpenWithShell(target);
        if (!expectStart) {
            // Give a wrongly started helper time to show itself.
            QTest::qWait(300);
            return started || QFile::exists(log()) ? QStringList{u"started"_qs} : QStringList();
        }
        if (!started)
            return {};
        if (!QTest::qWaitFor([&] { return QFile::exists(log()); }, 10000))
            return {u"timed out"_qs};
        QFile f(log());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(m_dir.path()).mkpath(u"bin"_qs));
        QVERIFY(QDir(m_dir.path()).mkpath(u"work"_qs));
        QVERIFY(QDir(m_dir.path()).mkpath(u"prefix/drive_c/Games/CF"_qs));
        QVERIFY(QDir(m_dir.path()).mkpath(u"prefix/dosdevices"_qs));
        QVERIFY(QFile::link(u"../drive_c"_qs, path("prefix/dosdevices/c:")));
        writeExecutable(path("bin/wine"), kRecorder);
        writeExecutable(path("bin/xdg-open"), kRecorder);
        QVERIFY(writeFile(path("prefix/drive_c/Games/CF/QQLogin.exe"), "MZ"));
        writeExecutable(path("tool.sh"), kRecorder);
        QVERIFY(writeFile(path("notes.txt"), "text"));
        writeExecutable(path("marked.txt"), "executable bit, no program");
        QVERIFY(writeFile(path("run.BAT"), "@echo off"));

        m_savedCwd = QDir::currentPath();
        m_path = path("bin").toUtf8() + ':' + qgetenv("PATH");
        m_env = std::make_unique<EnvGuard>();
        m_env->Set("PATH", m_path);
        m_env->Set("WINEPREFIX", path("prefix").toUtf8());
        m_env->Set("YFZS_LAUNCH_LOG", log().toUtf8());
        QDir::setCurrent(path("work"));
    }

    void cleanupTestCase()
    {
        QDir::setCurrent(m_savedCwd);
        m_env.reset();
    }

    void windowsProgramsRunThroughWineInThePrefix()
    {
        const QString cwd = u"cwd="_qs + QDir::currentPath();
        const QString prefix = u"prefix="_qs + path("prefix");
        QCOMPARE(launch(u"C:\\games\\cf\\qqlogin.EXE"_qs),
                 QStringList({u"name=wine"_qs, u"arg="_qs + path("prefix/dosdevices/c:/Games/CF/QQLogin.exe"),
                              prefix, cwd}));
        // Relative names are found from the working folder, which the program inherits.
        QDir::setCurrent(m_dir.path());
        QCOMPARE(
            launch(u"run.BAT"_qs),
            QStringList({u"name=wine"_qs, u"arg="_qs + path("run.BAT"), prefix, u"cwd="_qs + m_dir.path()}));
        QDir::setCurrent(path("work"));
    }

    void nativeProgramsRunDirectly()
    {
        const QStringList record = launch(path("tool.sh"));
        QCOMPARE(record.value(0), u"name=tool.sh"_qs);
        QCOMPARE(record.value(1).left(7), u"prefix="_qs); // no arguments
        QCOMPARE(record.value(2), u"cwd="_qs + path("work"));
    }

    void everythingElseGoesToTheOpener()
    {
        // An executable bit on a plain file (marked.txt) does not make it a program.
        for (const QString& target : {u"http://127.0.0.1:8088/help?a=1&b=2"_qs, path("notes.txt"),
                                      path("marked.txt"), path("prefix")})
            QCOMPARE(launch(target).mid(0, 2), QStringList({u"name=xdg-open"_qs, u"arg="_qs + target}));
    }

    void failuresStartNothing()
    {
        for (const QString& target : {QString(), path("missing.exe"), u"C:\\Games\\CF\\missing.exe"_qs})
            QCOMPARE(launch(target, false), QStringList());
        // A helper that is not installed is a failure, not a silent success.
        qputenv("PATH", path("work").toUtf8());
        QCOMPARE(launch(u"C:\\Games\\CF\\QQLogin.exe"_qs, false), QStringList());
        QCOMPARE(launch(u"https://127.0.0.1/"_qs, false), QStringList());
        qputenv("PATH", m_path);
    }

    // Callers tell "Wine is missing" apart from "no such game file".
    void outcomesSayWhatIsMissing()
    {
        QCOMPARE(platform::OpenTarget(path("missing.exe")), platform::OpenOutcome::NotFound);
        qputenv("PATH", path("work").toUtf8());
        QVERIFY(!platform::WineAvailable());
        QCOMPARE(platform::OpenTarget(u"C:\\Games\\CF\\QQLogin.exe"_qs), platform::OpenOutcome::WineMissing);
        QCOMPARE(platform::OpenTarget(u"C:\\Games\\CF\\missing.exe"_qs), platform::OpenOutcome::NotFound);
        QCOMPARE(platform::OpenTarget(u"https://127.0.0.1/"_qs), platform::OpenOutcome::Failed);
        qputenv("PATH", m_path);
        QVERIFY(platform::WineAvailable());
        QFile::remove(log());
        QCOMPARE(platform::OpenTarget(u"C:\\Games\\CF\\QQLogin.exe"_qs), platform::OpenOutcome::Started);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(log()); }, 10000));
        QVERIFY(platform::WineMissingMessage().contains(u"apt install wine"_qs));
    }
};

YFZS_TEST_CLASS(LauncherTest)
#include "launcher_test.moc"
