#include "testenv.h"
#include "testrunner.h"

#include "config/datafolder.h"
#include "config/programdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// Which folder holds the program's files: beside a writable copy, per user for a system install.
class ProgramDirTest : public QObject
{
    Q_OBJECT

private slots:
    void systemLocations()
    {
        for (const char* folder : {"/usr/bin", "/usr/bin/", "/usr", "/opt/YFZS/", "/usr/local/games/yfzs"})
            QVERIFY2(config::IsSystemLocation(QString::fromLatin1(folder)), folder);
        QTemporaryDir copy;
        QVERIFY(!config::IsSystemLocation(copy.path()));
        QVERIFY(!config::IsSystemLocation(copy.path() + u"/"_qs));
        // "/usr" is a place, not a prefix of every name.
        QVERIFY(QDir(copy.path()).mkpath(u"usrlocal"_qs));
        QVERIFY(!config::IsSystemLocation(copy.path() + u"/usrlocal"_qs));

        // A folder this user cannot write (root writes anywhere, so only the others can check).
        const QString locked = copy.filePath(u"locked"_qs);
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        if (!QFileInfo(locked).isWritable())
            QVERIFY(config::IsSystemLocation(locked));
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void perUserFolderFollowsXdgDataHome()
    {
        EnvGuard env;
        env.Set("XDG_DATA_HOME", "/srv/data/");
        QCOMPARE(config::PerUserDataDir(), u"/srv/data/YFZS/"_qs);
        env.Set("XDG_DATA_HOME", "relative/data"); // ignored, as the base directory rules say
        QCOMPARE(config::PerUserDataDir(), QDir::homePath() + u"/.local/share/YFZS/"_qs);
        env.Unset("XDG_DATA_HOME");
        QCOMPARE(config::PerUserDataDir(), QDir::homePath() + u"/.local/share/YFZS/"_qs);
    }

    // This test program runs from its writable build folder: a portable program, files beside it.
    void writableCopyKeepsItsFilesBesideIt()
    {
        QVERIFY(!config::IsSystemInstall());
        QCOMPARE(GetProgramDir(), config::GetExecutableDir());
        QVERIFY(GetProgramDir().endsWith(u'/') && !GetProgramDir().endsWith(u"//"_qs));
        QVERIFY(QFileInfo::exists(GetProgramDir()
                                  + QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
        QCOMPARE(config::GetConfigPath(), config::GetExecutableDir() + u"config.ini"_qs);
        QCOMPARE(config::PrepareDataFolder(), config::DataFolderState::Ready);
        QVERIFY(QRegularExpression(u"^\\d+\\.\\d+\\.\\d+$"_qs).match(config::BuildVersion()).hasMatch());
        QVERIFY(QRegularExpression(u"^\\d{14}$"_qs).match(config::BuildSerTime()).hasMatch());
        QVERIFY(config::DataFolderMessage(u"/home/u/.local/share/YFZS/"_qs)
                    .contains(u"/home/u/.local/share/YFZS/"_qs));
    }
};

YFZS_TEST_CLASS(ProgramDirTest)
#include "programdir_test.moc"
