#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "config/inifile.h"
#include "config/locator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray systemReg(const QByteArray& values)
{
    return "WINE REGISTRY Version 2\n"
           ";; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
           "[Software\\\\Tencent] 1700000000\n\"Other\"=\"x\"\n\n"
           "[Software\\\\Tencent\\\\CrossFire] 1700000000\n#time=1d9e0c0a1b2c3d4\n"
        + values;
}

} // namespace

class LocatorTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<EnvGuard> m_env;
    int m_browses = 0;

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString prefix() const { return path(u"prefix"_qs); }
    QString config() const { return path(u"program/config.ini"_qs); }
    QString gameDir() const { return prefix() + u"/dosdevices/c:/Games/穿越火线"_qs; }
    QString storedDir() const { return path(u"stored folder"_qs); }

    void setRegistry(const QByteArray& values)
    {
        if (values.isNull())
            QFile::remove(prefix() + u"/system.reg"_qs);
        else
            QVERIFY(writeFile(prefix() + u"/system.reg"_qs, systemReg(values)));
    }

    // A browse that stores `folder` (when given) and answers `answer`, counting its calls.
    config::GameFolderBrowser browser(bool answer, const QString& folder = QString())
    {
        return [this, answer, folder] {
            ++m_browses;
            if (!folder.isNull())
                WriteIniString(config(), u"CF Info"_qs, u"FOLDER"_qs, folder);
            return answer;
        };
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir root(m_dir.path());
        QVERIFY(root.mkpath(u"prefix/drive_c/Games/穿越火线"_qs));
        QVERIFY(root.mkpath(u"prefix/dosdevices"_qs));
        QVERIFY(root.mkpath(u"program"_qs));
        QVERIFY(root.mkpath(u"game/QQLogin.exe.d"_qs));
        QVERIFY(root.mkpath(storedDir()));
        QVERIFY(QFile::link(u"../drive_c"_qs, prefix() + u"/dosdevices/c:"_qs));
        m_env = std::make_unique<EnvGuard>();
        m_env->Set("WINEPREFIX", prefix().toUtf8());
    }

    void cleanupTestCase() { m_env.reset(); }

    void init()
    {
        m_browses = 0;
        QFile::remove(config());
    }

    void registryWinsAndLeavesConfigAlone()
    {
        // Non-ASCII in Wine's \x form, the path in the case the installer wrote it.
        setRegistry("\"InstallPath\"=\"C:\\\\GAMES\\\\\\x7a7f\\x8d8a\\x706b\\x7ebf\"\n");
        config::ResolvedGameFolder found = ResolveGameFolder(browser(true, u"/elsewhere"_qs), config());
        QVERIFY(found.goOn);
        QCOMPARE(found.folder, gameDir());
        QVERIFY(!QFile::exists(config())); // not even created

        const QByteArray stored = "[CF Info]\r\nFOLDER=/stored/folder\r\n";
        QVERIFY(writeFile(config(), stored));
        found = ResolveGameFolder(browser(true), config());
        QCOMPARE(found.folder, gameDir());
        QCOMPARE(readFile(config()), stored);
        QCOMPARE(m_browses, 0);
    }

    void unusableInstallPathFallsBackToTheStoredFolder()
    {
        QVERIFY(WriteIniString(config(), u"CF Info"_qs, u"FOLDER"_qs, storedDir()));
        const QByteArray longPath = "C:\\\\" + QByteArray(257, 'a'); // 260 characters
        for (const QByteArray& values :
             {QByteArray("\"InstallPath\"=\"\"\n"), QByteArray("\"InstallPath\"=dword:00000001\n"),
              QByteArray("\"Other\"=\"C:\\\\x\"\n"), "\"InstallPath\"=\"" + longPath + "\"\n",
              QByteArray()}) {
            setRegistry(values);
            const config::ResolvedGameFolder found = ResolveGameFolder(browser(true), config());
            QVERIFY(found.goOn);
            QCOMPARE(found.folder, storedDir());
        }
        // 259 characters still fit a Windows path (in two levels: one may hold 255 bytes).
        const QByteArray first(127, 'a'), second(128, 'b');
        QVERIFY(QDir().mkpath(prefix() + u"/drive_c/"_qs + QString::fromLatin1(first + '/' + second)));
        setRegistry("\"InstallPath\"=\"C:\\\\" + first + "\\\\" + second + "\"\n");
        QCOMPARE(ResolveGameFolder(browser(true), config()).folder.size(),
                 (prefix() + u"/dosdevices/c:/"_qs).size() + 256);
        QCOMPARE(m_browses, 0);
    }

    void storedDrivePathIsFoundInThePrefix()
    {
        setRegistry(QByteArray());
        QVERIFY(WriteIniString(config(), u"CF Info"_qs, u"FOLDER"_qs, u"c:\\games\\穿越火线"_qs));
        QCOMPARE(ResolveGameFolder(browser(true), config()).folder, gameDir());
    }

    void shortOrMissingFolderAsksTheBrowser_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::newRow("no config.ini") << QByteArray();
        QTest::newRow("read as 0") << QByteArray("[CF Info]\r\nFOLDER=0\r\n");
        QTest::newRow("two characters") << QByteArray("[CF Info]\r\nFOLDER=C:\r\n");
        QTest::newRow("empty") << QByteArray("[CF Info]\r\nFOLDER=\r\n");
    }

    void shortOrMissingFolderAsksTheBrowser()
    {
        QFETCH(QByteArray, ini);
        setRegistry("\"Unrelated\"=\"x\"\n");
        QFile::remove(prefix() + u"/system.reg"_qs);
        auto prepare = [&] {
            QFile::remove(config());
            if (!ini.isNull())
                QVERIFY(writeFile(config(), ini));
        };

        prepare();
        config::ResolvedGameFolder found = ResolveGameFolder(browser(false), config());
        QVERIFY(!found.goOn);
        QVERIFY(found.folder.isEmpty());

        prepare();
        found = ResolveGameFolder(browser(true, storedDir()), config());
        QVERIFY(found.goOn);
        QCOMPARE(found.folder, storedDir());

        // A browse that says yes but leaves no usable folder: go on with none.
        prepare();
        found = ResolveGameFolder(browser(true), config());
        QVERIFY(found.goOn);
        QVERIFY(found.folder.isEmpty());
        QCOMPARE(m_browses, 3);
    }

    // The game moved or its prefix was deleted: a remembered folder that is gone is not found,
    // so the next source is tried, and nothing is created where it was.
    void folderThatNoLongerExistsIsNotFound()
    {
        const QString gone = path(u"gone/CrossFire"_qs);
        QVERIFY(WriteIniString(config(), u"CF Info"_qs, u"FOLDER"_qs, storedDir()));
        setRegistry("\"InstallPath\"=\"C:\\\\Moved\\\\CrossFire\"\n");
        config::ResolvedGameFolder found = ResolveGameFolder(browser(false), config());
        QCOMPARE(found.folder, storedDir());

        QVERIFY(WriteIniString(config(), u"CF Info"_qs, u"FOLDER"_qs, gone));
        found = ResolveGameFolder(browser(false), config());
        QVERIFY(!found.goOn);
        QCOMPARE(m_browses, 1);

        // A browse that leaves only a folder that is gone: go on with none.
        found = ResolveGameFolder(browser(true, gone), config());
        QVERIFY(found.goOn);
        QVERIFY(found.folder.isEmpty());
        QVERIFY(!QFileInfo::exists(gone));
        QVERIFY(!QFileInfo::exists(prefix() + u"/drive_c/Moved"_qs));
    }

    void storingAChosenFolder()
    {
        const QString game = path(u"game"_qs);
        const QByteArray before = "; kept\r\n[CF Info]\r\nFOLDER=/old\r\n";
        QVERIFY(writeFile(config(), before));

        // Nothing chosen, no marker, or a folder named like the marker: nothing is written.
        QCOMPARE(config::StoreChosenGameFolder(config::GameFolderVariant::Official, QString(), config()),
                 config::GameFolderOutcome::NothingChosen);
        QCOMPARE(config::StoreChosenGameFolder(config::GameFolderVariant::Official, game, config()),
                 config::GameFolderOutcome::MarkerMissing);
        QVERIFY(QDir(game).mkdir(u"QQLogin.exe"_qs));
        QCOMPARE(config::StoreChosenGameFolder(config::GameFolderVariant::Official, game, config()),
                 config::GameFolderOutcome::MarkerMissing);
        QCOMPARE(readFile(config()), before);
        QVERIFY(QDir(game).rmdir(u"QQLogin.exe"_qs));

        // The marker in any letter case; each variant writes its own key.
        QVERIFY(writeFile(game + u"/qqlogin.EXE"_qs, "MZ"));
        QCOMPARE(config::StoreChosenGameFolder(config::GameFolderVariant::SettingsTestServer, game, config()),
                 config::GameFolderOutcome::Stored);
        QCOMPARE(ReadIniString(config(), u"CF Info"_qs, u"FOLDER_TYF"_qs), game);
        QCOMPARE(ReadIniString(config(), u"CF Info"_qs, u"FOLDER"_qs), u"/old"_qs);
        QCOMPARE(config::StoreChosenGameFolder(config::GameFolderVariant::MainWindow, game, config()),
                 config::GameFolderOutcome::Stored);
        QCOMPARE(ReadIniString(config(), u"CF Info"_qs, u"FOLDER"_qs), game);
        QVERIFY(readFile(config()).startsWith("; kept\r\n"));

        // The stored folder is what the next resolve returns without asking.
        setRegistry(QByteArray());
        QCOMPARE(ResolveGameFolder(browser(false), config()).folder, game);
        QCOMPARE(m_browses, 0);

        // A config.ini that cannot be written is reported with its path.
        const QString unwritable = path(u"no such folder/config.ini"_qs);
        QCOMPARE(config::StoreChosenGameFolder(config::GameFolderVariant::Official, game, unwritable),
                 config::GameFolderOutcome::WriteFailed);
        QCOMPARE(config::GameFolderMessage(config::GameFolderVariant::Official,
                                           config::GameFolderOutcome::WriteFailed, unwritable),
                 unwritable + u"错误"_qs);
        QVERIFY(config::GameFolderMessage(config::GameFolderVariant::Official,
                                          config::GameFolderOutcome::Stored, unwritable)
                    .isEmpty());
        QFile::remove(game + u"/qqlogin.EXE"_qs);
    }
};

YFZS_TEST_CLASS(LocatorTest)
#include "locator_test.moc"
