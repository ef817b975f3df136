#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// As Wine writes it: escaped key names, time stamps, option lines, every value type.
const QByteArray kSystemReg = "WINE REGISTRY Version 2\n"
                              ";; All keys relative to \\\\Machine\n"
                              "\n"
                              "#arch=win32\n"
                              "\n"
                              "[Software\\\\Classes\\\\.zip] 1700000000\n"
                              "#time=1d9e0c0a1b2c3d4\n"
                              "@=\"machine.zip\"\n"
                              "\"Content Type\"=\"application/zip\"\n"
                              "\n"
                              "[Software\\\\Parent\\\\Child] 1700000000\n"
                              "\"x\"=\"y\"\n"
                              "\n"
                              "[Software\\\\Tencent\\\\CrossFire] 1700000000\n"
                              "#time=1d9e0c0a1b2c3d4\n"
                              "\"Bin\"=hex:00,01,02,\\\n"
                              "  03,04\n"
                              "\"Dw\"=dword:00000001\n"
                              "\"Exp\"=str(2):\"%ProgramFiles%\\\\CF\"\n"
                              "\"HexSz\"=hex(1):41,00,42,00,\\\n"
                              "  43,00,00,00\n"
                              "\"InstallPath\"=\"C:\\\\Games\\\\CF\"\n"
                              "\"Multi\"=str(7):\"a\\0b\\0\"\n"
                              "\"Name\"=\"\\x7a7f\\x8d8a\\x706b\\x7ebf\"\n"
                              "\"Quote\"=\"say \\\"hi\\\"\\n\\ttab\\\\end\"\n"
                              "\"Short\\x41hex\"=\"\\x41\\x4e2d1\"\n"
                              "\"Broken\"=\"no closing quote\n"
                              "@=\"default text\"\n"
                              "\n"
                              "[Software\\\\Odd\\\\\\[br\\]acket\\\\\\xe9t\\xe9] 1700000000\n"
                              "\"v\"=\"odd\"\n"
                              "\n"
                              "[software\\\\tencent\\\\crossfire] 1700000001\n"
                              "\"Later\"=\"second section of the same key\"\n";

const QByteArray kUserReg = "WINE REGISTRY Version 2\r\n"
                            ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\r\n"
                            "\r\n"
                            "[Software\\\\Classes\\\\.zip] 1700000000\r\n"
                            "@=\"user.zip\"\r\n"
                            "\r\n"
                            "[Software\\\\Wine\\\\Explorer] 1700000000\r\n"
                            "\"Desktop\"=\"Default\"\r\n";

} // namespace

class RegistryTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_prefix;
    QString prefix() const { return m_prefix.path(); }

    QString text(int root, const char16_t* key, const char16_t* value) const
    {
        return platform::RegistryLookup(root, key, value, prefix()).text.value_or(u"<none>"_qs);
    }
    bool keyFound(const char16_t* key) const
    {
        return platform::RegistryLookup(platform::kLocalMachine, key, u"", prefix()).keyFound;
    }
    // A value of the game's own key, the one most cases read.
    QString game(const char16_t* value) const
    {
        return text(platform::kLocalMachine, u"Software\\Tencent\\CrossFire", value);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_prefix.isValid());
        QVERIFY(writeFile(m_prefix.filePath(u"system.reg"_qs), kSystemReg));
        QVERIFY(writeFile(m_prefix.filePath(u"user.reg"_qs), kUserReg));
        // The layout a real prefix has: dosdevices/c: links to ../drive_c.
        QVERIFY(QDir(prefix()).mkpath(u"drive_c/Games/CF/rez"_qs));
        QVERIFY(QDir(prefix()).mkpath(u"dosdevices"_qs));
        QVERIFY(QFile::link(u"../drive_c"_qs, m_prefix.filePath(u"dosdevices/c:"_qs)));
    }

    void stringsWithTheirEscapes()
    {
        QCOMPARE(game(u"InstallPath"), u"C:\\Games\\CF"_qs);
        QCOMPARE(game(u"Quote"), u"say \"hi\"\n\ttab\\end"_qs);
        QCOMPARE(game(u"Name"), u"穿越火线"_qs);
        // \x takes at most four hex digits, in value names as in data.
        QCOMPARE(game(u"ShortAhex"), u"A中1"_qs);
        QCOMPARE(text(platform::kLocalMachine, u"Software\\Odd\\[br]acket\\été", u"v"), u"odd"_qs);
        // Expandable strings come back as stored; hex(1) data is UTF-16 text.
        QCOMPARE(game(u"Exp"), u"%ProgramFiles%\\CF"_qs);
        QCOMPARE(game(u"HexSz"), u"ABC"_qs);
        // An empty name is the key's default value.
        QCOMPARE(game(u""), u"default text"_qs);
    }

    void matchingIgnoresCaseAndSeparators()
    {
        QCOMPARE(text(platform::kLocalMachine, u"SOFTWARE\\tencent\\CROSSFIRE", u"installpath"),
                 u"C:\\Games\\CF"_qs);
        QCOMPARE(text(platform::kLocalMachine, u"\\Software\\\\Tencent\\CrossFire\\", u"InstallPath"),
                 u"C:\\Games\\CF"_qs);
        // A key written twice: values of both sections are found.
        QCOMPARE(game(u"Later"), u"second section of the same key"_qs);
    }

    void presentButNotText()
    {
        for (const char16_t* name : {u"Dw", u"Bin", u"Multi", u"Broken", u"Missing"}) {
            const platform::RegistryString found = platform::RegistryLookup(
                platform::kLocalMachine, u"Software\\Tencent\\CrossFire", name, prefix());
            QVERIFY(found.keyFound);
            QVERIFY2(!found.text, qPrintable(QString::fromUtf16(name)));
        }
        // Continuation lines of hex data are not mistaken for values or keys.
        QCOMPARE(game(u"InstallPath"), u"C:\\Games\\CF"_qs);
    }

    void keysThatExist()
    {
        // Wine writes no header for a key that only holds other keys.
        QVERIFY(
            platform::RegistryLookup(platform::kLocalMachine, u"Software\\Parent", u"x", prefix()).keyFound);
        QVERIFY(keyFound(u"Software"));
        QVERIFY(!keyFound(u"Software\\Par"));
        QVERIFY(!keyFound(u"Software\\Tencent\\CrossFire\\Sub"));
        QVERIFY(!platform::RegistryLookup(platform::kLocalMachine, u"Software\\Parent", u"x", prefix()).text);
    }

    void roots()
    {
        QCOMPARE(text(platform::kCurrentUser, u"Software\\Wine\\Explorer", u"Desktop"), u"Default"_qs);
        QCOMPARE(text(platform::kLocalMachine, u"Software\\Wine\\Explorer", u"Desktop"), u"<none>"_qs);
        // Classes: the user's own over the machine's, the machine's where the user has none.
        QCOMPARE(text(platform::kClassesRoot, u".zip", u""), u"user.zip"_qs);
        QCOMPARE(text(platform::kClassesRoot, u".zip", u"Content Type"), u"application/zip"_qs);
        for (int root : {int(platform::kUsers), int(platform::kPerformanceData),
                         int(platform::kCurrentConfig), int(platform::kDynData), 7, 9, -1}) {
            const platform::RegistryString found = platform::RegistryLookup(
                root, u"Software\\Tencent\\CrossFire", u"InstallPath", prefix());
            QVERIFY(!found.keyFound);
            QVERIFY(!found.text);
        }
    }

    void missingPrefix()
    {
        QTemporaryDir empty;
        const platform::RegistryString found = platform::RegistryLookup(
            platform::kLocalMachine, u"Software\\Tencent\\CrossFire", u"InstallPath", empty.path());
        QVERIFY(!found.keyFound);
        QVERIFY(!found.text);
    }

    void win64PrefixSeesTheRedirectedKeyFirst()
    {
        QTemporaryDir dir;
        QVERIFY(
            writeFile(dir.filePath(u"system.reg"_qs),
                      "WINE REGISTRY Version 2\n#arch=win64\n\n"
                      "[Software\\\\Tencent\\\\CrossFire] 1\n\"InstallPath\"=\"C:\\\\64\"\n\n"
                      "[Software\\\\Wow6432Node\\\\Tencent\\\\CrossFire] 1\n\"InstallPath\"=\"C:\\\\32\"\n\n"
                      "[Software\\\\Wine] 1\n\"Version\"=\"shared\"\n"));
        QCOMPARE(platform::RegistryLookup(platform::kLocalMachine, u"Software\\Tencent\\CrossFire",
                                          u"InstallPath", dir.path())
                     .text,
                 std::optional<QString>(u"C:\\32"_qs));
        QCOMPARE(
            platform::RegistryLookup(platform::kLocalMachine, u"Software\\Wine", u"Version", dir.path()).text,
            std::optional<QString>(u"shared"_qs));
    }

    void drivePathsBecomePrefixPaths()
    {
        const QString c = prefix() + u"/dosdevices/c:"_qs;
        QCOMPARE(platform::DosPathToNative(u"C:\\Games\\CF", prefix()), c + u"/Games/CF"_qs);
        // Letter case of existing levels is taken from the disk; new levels stay as given.
        QCOMPARE(platform::DosPathToNative(u"c:/GAMES\\cf\\REZ\\New\\x.zip", prefix()),
                 c + u"/Games/CF/rez/New/x.zip"_qs);
        QCOMPARE(platform::DosPathToNative(u"C:\\", prefix()), c + u"/"_qs);
        QCOMPARE(platform::DosPathToNative(u"C:", prefix()), c);
        QVERIFY(QFileInfo(platform::DosPathToNative(u"C:\\GAMES\\CF", prefix())).isDir());
        // Not drive paths: only the separators change.
        QCOMPARE(platform::DosPathToNative(u"/opt/cf", prefix()), u"/opt/cf"_qs);
        QCOMPARE(platform::DosPathToNative(u"CF:\\x", prefix()), u"CF:/x"_qs);
        QCOMPARE(platform::DosPathToNative(u"C:x", prefix()), u"C:x"_qs);
    }

    void pageReadUsesThePrefixFromTheEnvironment()
    {
        EnvGuard env;
        env.Set("WINEPREFIX", prefix().toUtf8() + '/');
        QCOMPARE(platform::WinePrefixDir(), prefix());
        const auto gameRead = [](const QString& value) {
            return platform::RegistryReadString(platform::kLocalMachine, u"Software\\Tencent\\CrossFire"_qs,
                                                value);
        };
        QCOMPARE(gameRead(u"InstallPath"_qs), prefix() + u"/dosdevices/c:/Games/CF"_qs);
        QCOMPARE(gameRead(u"Exp"_qs), u"%ProgramFiles%\\CF"_qs);
        QCOMPARE(gameRead(u"Dw"_qs), QString());
        QCOMPARE(platform::RegistryReadString(platform::kLocalMachine, u"Software\\Nothing"_qs, u"x"_qs),
                 QString());
        QCOMPARE(platform::RegistryReadString(9, u"Software\\Tencent\\CrossFire"_qs, u"InstallPath"_qs),
                 QString());

        // The page's buffer holds 4095 units and the terminator; a longer text gives "".
        QTemporaryDir big;
        const QByteArray fits(4095, 'a');
        QVERIFY(writeFile(big.filePath(u"user.reg"_qs),
                          "WINE REGISTRY Version 2\n\n[Software\\\\Big] 1\n\"fits\"=\"" + fits
                              + "\"\n\"over\"=\"" + fits + "b\"\n"));
        env.Set("WINEPREFIX", big.path().toUtf8());
        QCOMPARE(platform::RegistryReadString(platform::kCurrentUser, u"Software\\Big"_qs, u"fits"_qs).size(),
                 4095);
        QCOMPARE(platform::RegistryReadString(platform::kCurrentUser, u"Software\\Big"_qs, u"over"_qs),
                 QString());

        env.Unset("WINEPREFIX");
        env.Set("HOME", big.path().toUtf8());
        QCOMPARE(platform::WinePrefixDir(), big.path() + u"/.wine"_qs);
    }
};

YFZS_TEST_CLASS(RegistryTest)
#include "registry_test.moc"
