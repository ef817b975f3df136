// Settings-store rules taken from the Windows profile functions where files written on Windows
// or the tool page rely on them, writes that would not read back, and who may read a new file.

#include "testfiles.h"
#include "testrunner.h"

#include "config/inifile.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class IniRulesTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString file(const QString& name) const { return m_dir.filePath(name); }

    static QFileDevice::Permissions modeOf(const QString& path)
    {
        // The "User" bits repeat the owner's for the current user; leave them out.
        return QFileInfo(path).permissions()
            & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    }

private slots:
    void windowsProfileRules()
    {
        const QString ini = file(u"rules.ini"_qs);
        static const char kText[] = "[a]b]\r\n"
                                    "k=in a]b\r\n"
                                    "[system]  ; comment\r\n"
                                    "ctrlz=v\x1a\r\n"
                                    "\x1akey\x1a=\x1a spaced \x1a\r\n"
                                    "nul=ab\0cd\r\n"
                                    "quotednul=\"ab\"\0 rest\r\n";
        QVERIFY(writeFile(ini, QByteArray(kText, sizeof kText - 1)));

        // A section's name runs to the last "]" on its line.
        QCOMPARE(ReadIniString(ini, u"a]b"_qs, u"k"_qs), u"in a]b"_qs);
        QCOMPARE(ReadIniString(ini, u"a"_qs, u"k"_qs, u"none"_qs), u"none"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"ctrlz"_qs), u"v"_qs); // "]  ; comment" has no later "]"

        // ^Z is a blank like a space; a NUL ends the value.
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"key"_qs), u"spaced"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"nul"_qs), u"ab"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"quotednul"_qs), u"ab"_qs);

        // The default loses its trailing spaces, then one outer pair of quotes, before it is cut.
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"missing"_qs, u"default  "_qs), u"default"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"missing"_qs, u"  one two  "_qs), u"  one two"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"missing"_qs, u"\"quoted\"  "_qs), u"quoted"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"missing"_qs, u"'x\""_qs), u"'x\""_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"missing"_qs, u"\"abcdef\""_qs, 4), u"abc"_qs);
        QCOMPARE(ReadIniString(file(u"none.ini"_qs), u"s"_qs, u"k"_qs, u"\"0\""_qs), u"0"_qs);

        // A section name with "]" now reads back, so it is written.
        QVERIFY(WriteIniString(ini, u"x]y"_qs, u"k"_qs, u"v"_qs));
        QCOMPARE(ReadIniString(ini, u"X]Y"_qs, u"K"_qs), u"v"_qs);
    }

    void writesThatCannotBeReadBackAreRefused()
    {
        const QString ini = file(u"refused.ini"_qs);
        const QByteArray before = "[s]\r\nk=v\r\n";
        QVERIFY(writeFile(ini, before));

        QLoggingCategory::setFilterRules(u"yfzs.ini.warning=true"_qs);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"refused write .*\"=\" in the key"_qs));
        // "a=b=v" would read back as key "a".
        QVERIFY(!WriteIniString(ini, u"s"_qs, u"a=b"_qs, u"v"_qs));
        QLoggingCategory::setFilterRules(QString());

        QVERIFY(!WriteIniString(ini, u"s"_qs, u"k"_qs, u"a\0b"_qs));
        QVERIFY(!WriteIniString(ini, u"s\0t"_qs, u"k"_qs, u"v"_qs));
        // "[x=y]" would read as a section header.
        QVERIFY(!WriteIniString(ini, u"s"_qs, u"[x"_qs, u"y]"_qs));
        QCOMPARE(readFile(ini), before);
        QCOMPARE(ReadIniString(ini, u"s"_qs, u"a"_qs, u"none"_qs), u"none"_qs);

        // Still fine: "=" in a value, "[" in a key without a closing "]" after it.
        QVERIFY(WriteIniString(ini, u"s"_qs, u"[x"_qs, u"a=b"_qs));
        QCOMPARE(ReadIniString(ini, u"s"_qs, u"[x"_qs), u"a=b"_qs);
    }

    // config.ini holds the remembered password and update.ini the updater's data: a file the
    // store creates is the owner's alone, and an existing one keeps the mode it was given.
    void createdFilesAreOwnerOnly()
    {
        const QString fresh = file(u"fresh/config.ini"_qs);
        QVERIFY(QDir().mkpath(QFileInfo(fresh).path()));
        QVERIFY(WriteIniString(fresh, u"system"_qs, u"UWD"_qs, u"c2VjcmV0"_qs));
        const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QCOMPARE(modeOf(fresh), ownerOnly);
        QCOMPARE(modeOf(fresh + u".lock"_qs), ownerOnly);
        QVERIFY(WriteIniString(fresh, u"system"_qs, u"UID"_qs, u"demo"_qs));
        QCOMPARE(modeOf(fresh), ownerOnly);

        const QString shared = file(u"shared.ini"_qs);
        QVERIFY(writeFile(shared, "[s]\r\n"));
        const auto groupReadable = ownerOnly | QFileDevice::ReadGroup;
        QVERIFY(QFile::setPermissions(shared, groupReadable));
        QVERIFY(WriteIniString(shared, u"s"_qs, u"k"_qs, u"v"_qs));
        QCOMPARE(modeOf(shared), groupReadable);

        // Made by someone else with the umask's mode: the password makes it owner-only, and a
        // later write of another key does not open it again.
        const QString made = file(u"made/config.ini"_qs);
        QVERIFY(QDir().mkpath(QFileInfo(made).path()));
        QVERIFY(writeFile(made, "[system]\r\nUID=demo\r\n"));
        const auto umaskMode = groupReadable | QFileDevice::ReadOther;
        QVERIFY(QFile::setPermissions(made, umaskMode));
        QVERIFY(WriteIniString(made, u"System"_qs, u"uwd"_qs, u"c2VjcmV0"_qs));
        QCOMPARE(modeOf(made), ownerOnly);
        QVERIFY(QFile::setPermissions(made, umaskMode));
        QVERIFY(WriteIniString(made, u"CFInfo"_qs, u"k"_qs, u"v"_qs));
        QCOMPARE(modeOf(made), ownerOnly);
    }
};

YFZS_TEST_CLASS(IniRulesTest)
#include "inirules_test.moc"
