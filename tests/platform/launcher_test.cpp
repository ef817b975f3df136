#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "platform/launcher.h"

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
        // Each program starts in its own folder, where games look for their files.
        const QString cwd = u"cwd="_qs + path("prefix/drive_c/Games/CF");
        const QString prefix = u"prefix="_qs + path("prefix");
        QCOMPARE(launch(u"C:\\games\\cf\\qqlogin.EXE"_qs),
                 QStringList({u"name=wine"_qs, u"arg="_qs + path("prefix/dosdevices/c:/Games/CF/QQLogin.exe"),
                              prefix, cwd}));
        // Relative names are found from our working folder.
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
        QCOMPARE(record.value(2), u"cwd="_qs + m_dir.path());
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
        EnvGuard env;
        env.Set("PATH", path("work").toUtf8());
        QCOMPARE(launch(u"C:\\Games\\CF\\QQLogin.exe"_qs, false), QStringList());
        QCOMPARE(launch(u"https://127.0.0.1/"_qs, false), QStringList());
    }

    // Callers tell "Wine is missing" apart from "no such game file".
    void outcomesSayWhatIsMissing()
    {
        QCOMPARE(platform::OpenTarget(path("missing.exe")), platform::OpenOutcome::NotFound);
        EnvGuard env;
        env.Set("PATH", path("work").toUtf8());
        QVERIFY(!platform::WineAvailable());
        QCOMPARE(platform::OpenTarget(u"C:\\Games\\CF\\QQLogin.exe"_qs), platform::OpenOutcome::WineMissing);
        QCOMPARE(platform::OpenTarget(u"C:\\Games\\CF\\missing.exe"_qs), platform::OpenOutcome::NotFound);
        QCOMPARE(platform::OpenTarget(u"https://127.0.0.1/"_qs), platform::OpenOutcome::Failed);
        env.Set("PATH", m_path);
        QVERIFY(platform::WineAvailable());
        QFile::remove(log());
        QCOMPARE(platform::OpenTarget(u"C:\\Games\\CF\\QQLogin.exe"_qs), platform::OpenOutcome::Started);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(log()); }, 10000));
        QVERIFY(platform::WineMissingMessage().contains(u"apt install wine"_qs));
    }

    // A program outside every prefix never makes a new default prefix unasked.
    void noPrefixIsMadeSilently()
    {
        EnvGuard env;
        env.Set("WINEPREFIX", path("fresh").toUtf8());
        QString problem;
        QFile::remove(log());
        QCOMPARE(platform::OpenTarget(path("run.BAT"), &problem), platform::OpenOutcome::NoPrefix);
        QVERIFY(problem.contains(path("fresh")));
        QString asked;
        const auto answer = [&](bool yes) {
            return [&asked, yes](const QString& question) {
                asked = question;
                return yes;
            };
        };
        QCOMPARE(platform::OpenTarget(path("run.BAT"), nullptr, {}, answer(false)),
                 platform::OpenOutcome::Declined);
        QVERIFY(asked.contains(path("run.BAT")) && asked.contains(u"还不存在"_qs));
        QTest::qWait(300);
        QVERIFY(!QFile::exists(log()) && !QFile::exists(path("fresh")));
        QCOMPARE(platform::OpenTarget(path("run.BAT"), nullptr, {}, answer(true)),
                 platform::OpenOutcome::Started);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(log()); }, 10000));
        QVERIFY(readFile(log()).contains("prefix=" + path("fresh").toUtf8()));
    }

    // A Wine that cannot run 32-bit programs ends at once; the player learns why and what to do.
    void earlyExitIsExplained()
    {
        QVERIFY(QDir(m_dir.path()).mkpath(u"nowow64"_qs));
        writeExecutable(
            path("nowow64/wine"),
            "#!/bin/sh\necho '0024:err:module:load_wow64_ntdll failed to load "
            "L\"\\\\??\\\\C:\\\\windows\\\\syswow64\\\\ntdll.dll\" error c0000135' >&2\nexit 1\n");
        EnvGuard env;
        env.Set("PATH", path("nowow64").toUtf8() + ':' + m_path);
        QString message;
        QCOMPARE(platform::OpenTarget(u"C:\\Games\\CF\\QQLogin.exe"_qs, nullptr,
                                      [&](const QString& why) { message = why; }),
                 platform::OpenOutcome::Started);
        QVERIFY(QTest::qWaitFor([&] { return !message.isEmpty(); }, 10000));
        QVERIFY2(message.contains(u"32 位"_qs) && message.contains(u"dpkg --add-architecture i386"_qs)
                     && message.contains(u"apt install wine32"_qs),
                 qPrintable(message));
        // Other early ends show what Wine said, without its fixme notes.
        const QString other = platform::DescribeEarlyExit(5, "fixme:ntdll:x\nerr:d3d:no GL context\n");
        QVERIFY(other.contains(u"5"_qs) && other.contains(u"no GL context"_qs)
                && !other.contains(u"fixme"_qs));
    }

    // A game in a manager's prefix whose manager or Wine build is gone names what is missing,
    // and starts nothing else in its place.
    void missingRunnersAreNamed()
    {
        const QString home = path("home");
        const QString flat = home + u"/.var/app/com.usebottles.bottles/data/bottles/bottles/CF"_qs;
        QVERIFY(writeFile(flat + u"/bottle.yml"_qs, "Name: CF\nRunner: soda-7.0-9\n"));
        QVERIFY(writeFile(flat + u"/drive_c/CF/QQLogin.exe"_qs, "MZ"));
        QVERIFY(writeFile(home + u"/Games/cf/system.reg"_qs, "WINE REGISTRY Version 2\n"));
        QVERIFY(writeFile(home + u"/Games/cf/drive_c/CF/QQLogin.exe"_qs, "MZ"));
        QVERIFY(writeFile(
            home + u"/.config/lutris/games/cf-1.yml"_qs,
            "game:\n  exe: drive_c/CF/QQLogin.exe\n  prefix: ~/Games/cf\nwine:\n  version: lutris-7.2\n"));
        EnvGuard env;
        env.Set("HOME", home.toUtf8());
        env.Set("WINEPREFIX", path("prefix").toUtf8());
        QString problem;
        QFile::remove(log());
        QCOMPARE(platform::OpenTarget(flat + u"/drive_c/CF/QQLogin.exe"_qs, &problem),
                 platform::OpenOutcome::RunnerMissing);
        QVERIFY2(problem.contains(u"flatpak"_qs) && problem.contains(u"Bottles"_qs), qPrintable(problem));
        QCOMPARE(platform::OpenTarget(home + u"/Games/cf/drive_c/CF/QQLogin.exe"_qs, &problem),
                 platform::OpenOutcome::RunnerMissing);
        QVERIFY2(problem.contains(u"Lutris"_qs) && problem.contains(u"lutris-7.2"_qs), qPrintable(problem));
        QTest::qWait(300);
        QVERIFY(!QFile::exists(log())); // wine was not started instead
    }
};

YFZS_TEST_CLASS(LauncherTest)
#include "launcher_test.moc"
