#include "testfiles.h"
#include "testrunner.h"

#include "config/inifile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

namespace {

QByteArray utf16le(const QString& text, bool bom = true)
{
    QByteArray out = bom ? QByteArray("\xff\xfe", 2) : QByteArray();
    for (QChar c : text) {
        out.append(char(c.unicode() & 0xff));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

} // namespace

class IniTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void reading()
    {
        const QString ini = file("read.ini");
        QVERIFY(writeFile(ini,
                          "top=before any section\r\n"
                          "[system]\r\n"
                          "exit=1\r\n"
                          "UID=\r\n"
                          "  spaced key  =   spaced value   \r\n"
                          "quoted=\"  in quotes  \"\r\n"
                          "single='x'\r\n"
                          "unbalanced=\"x'\r\n"
                          "lonequote=\"\r\n"
                          "eq=a=b=c\r\n"
                          "#hash=is a key\r\n"
                          "noequals\r\n"
                          "dup=first\r\n"
                          "dup=second\r\n"
                          "\r\n"
                          "[ Spaced Section ]\n"
                          "k=lf only\r"
                          "k2=cr only\n"
                          "[system]\r\n"
                          "dup=third\r\n"
                          "later=only in duplicate section\r\n"));

        // Missing file, section and key give the default; a present empty value does not.
        QCOMPARE(ReadIniString(file("none.ini"), u"system"_qs, u"UID"_qs, u"0"_qs), u"0"_qs);
        QCOMPARE(ReadIniString(ini, u"nosection"_qs, u"UID"_qs, u"0"_qs), u"0"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"nokey"_qs, u"0"_qs), u"0"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"UID"_qs, u"0"_qs), QString());
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"exit"_qs), u"1"_qs);
        QCOMPARE(ReadIniString(file("none.ini"), u"system"_qs, u"exit"_qs), QString());

        // Letter case of section and key names does not matter.
        QCOMPARE(ReadIniString(ini, u"SYSTEM"_qs, u"EXIT"_qs), u"1"_qs);
        QCOMPARE(ReadIniString(ini, u"spaced section"_qs, u"K"_qs), u"lf only"_qs);
        QCOMPARE(ReadIniString(ini, u"Spaced Section"_qs, u"k2"_qs), u"cr only"_qs);

        // White space trimmed around names and values; one matching pair of quotes removed.
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"spaced key"_qs), u"spaced value"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"quoted"_qs), u"  in quotes  "_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"single"_qs), u"x"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"unbalanced"_qs), u"\"x'"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"lonequote"_qs), u"\""_qs);

        // Split at the first '='; '#' lines are keys; a line without '=' is a key with no value.
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"eq"_qs), u"a=b=c"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"#hash"_qs), u"is a key"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"noequals"_qs, u"d"_qs), QString());

        // The first of duplicate keys and sections wins; a later duplicate section is not searched.
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"dup"_qs), u"first"_qs);
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"later"_qs, u"none"_qs), u"none"_qs);

        // Lines before the first section belong to no section.
        QCOMPARE(ReadIniString(ini, QString(), u"top"_qs, u"none"_qs), u"none"_qs);
    }

    void truncation()
    {
        const QString ini = file("trunc.ini");
        QVERIFY(WriteIniString(ini, u"s"_qs, u"k"_qs, u"0123456789"_qs));
        QCOMPARE(ReadIniString(ini, u"s"_qs, u"k"_qs, {}, 11), u"0123456789"_qs);
        QCOMPARE(ReadIniString(ini, u"s"_qs, u"k"_qs, {}, 10), u"012345678"_qs);
        QCOMPARE(ReadIniString(ini, u"s"_qs, u"k"_qs, {}, 1), QString());
        QCOMPARE(ReadIniString(ini, u"s"_qs, u"k"_qs, {}, 0), QString());
        // The default is cut the same way.
        QCOMPARE(ReadIniString(ini, u"s"_qs, u"missing"_qs, u"abcdef"_qs, 4), u"abc"_qs);
    }

    void writing()
    {
        const QString ini = file("write.ini");
        // A new file, then a new key in the section, then a new section.
        QVERIFY(WriteIniString(ini, u"system"_qs, u"exit"_qs, u"1"_qs));
        QCOMPARE(readFile(ini), QByteArray("[system]\r\nexit=1\r\n"));
        QVERIFY(WriteIniString(ini, u"system"_qs, u"UID"_qs, u"demo"_qs));
        QVERIFY(WriteIniString(ini, u"CF Info"_qs, u"FOLDER"_qs, u"/games/cf"_qs));
        QCOMPARE(readFile(ini),
                 QByteArray("[system]\r\nexit=1\r\nUID=demo\r\n[CF Info]\r\nFOLDER=/games/cf\r\n"));

        // Replacing keeps the stored key name; the empty string keeps the key present.
        QVERIFY(WriteIniString(ini, u"SYSTEM"_qs, u"uid"_qs, QString()));
        QCOMPARE(readFile(ini),
                 QByteArray("[system]\r\nexit=1\r\nUID=\r\n[CF Info]\r\nFOLDER=/games/cf\r\n"));
        QCOMPARE(ReadIniString(ini, u"system"_qs, u"UID"_qs, u"0"_qs), QString());

        // Line breaks would split the entry into other keys: refused, file untouched.
        const QByteArray before = readFile(ini);
        QVERIFY(!WriteIniString(ini, u"system"_qs, u"exit"_qs, u"0\r\n[system]\r\nexit=1"_qs));
        QVERIFY(!WriteIniString(ini, u"sys\ntem"_qs, u"exit"_qs, u"0"_qs));
        QVERIFY(!WriteIniString(ini, QString(), u"exit"_qs, u"0"_qs));
        QVERIFY(!WriteIniString(ini, u"system"_qs, QString(), u"0"_qs));
        QCOMPARE(readFile(ini), before);
    }

    void otherLinesKeptByteForByte()
    {
        const QString ini = file("keep.ini");
        const QByteArray original = "; a comment\n"
                                    "\n"
                                    "[system]   ; trailing\n"
                                    "  exit = 0  \n"
                                    "odd\xff\xfe"
                                    "bytes=kept\n"
                                    "\n"
                                    "\n"
                                    "[other]\n"
                                    "x=1"; // no line break at the end
        QVERIFY(writeFile(ini, original));

        QVERIFY(WriteIniString(ini, u"system"_qs, u"exit"_qs, u"1"_qs));
        QByteArray expected = original;
        expected.replace("  exit = 0  \n", "exit=1\n");
        QCOMPARE(readFile(ini), expected);

        // A new key goes after the section's last entry, before its blank lines, with the
        // file's own line break.
        QVERIFY(WriteIniString(ini, u"system"_qs, u"autoupdate"_qs, u"0"_qs));
        expected.replace("bytes=kept\n", "bytes=kept\nautoupdate=0\n");
        QCOMPARE(readFile(ini), expected);

        // A key added to a section that ends the file without a line break.
        QVERIFY(WriteIniString(ini, u"other"_qs, u"y"_qs, u"2"_qs));
        expected += "\ny=2\n";
        QCOMPARE(readFile(ini), expected);

        // A new section at the end.
        QVERIFY(WriteIniString(ini, u"new"_qs, u"k"_qs, u"v"_qs));
        expected += "[new]\nk=v\n";
        QCOMPARE(readFile(ini), expected);
    }

    void encodings()
    {
        // GBK without a mark: Chinese sections, keys and values both ways.
        const QString gbk = file("gbk.ini");
        QVERIFY(writeFile(
            gbk,
            QByteArray("[\xcf\xb5\xcd\xb3]\r\n\xd5\xcb\xba\xc5=\xd4\xc6\xb7\xab\r\n"))); // [系统] 账号=云帆
        QCOMPARE(ReadIniString(gbk, u"系统"_qs, u"账号"_qs), u"云帆"_qs);
        QVERIFY(WriteIniString(gbk, u"系统"_qs, u"目录"_qs, u"C:\\穿越火线"_qs));
        QVERIFY(
            readFile(gbk).endsWith(QByteArray("\xc4\xbf\xc2\xbc=C:\\\xb4\xa9\xd4\xbd\xbb\xf0\xcf\xdf\r\n")));
        // What GBK cannot hold would come back as '?' (and a key so written would never be
        // found again, each later write adding another copy): refused, file untouched.
        const QByteArray gbkBefore = readFile(gbk);
        QVERIFY(!WriteIniString(gbk, u"系统"_qs, u"emoji"_qs, u"a\U0001F600"_qs));
        QVERIFY(!WriteIniString(gbk, u"系统"_qs, u"\U0001F600"_qs, u"a"_qs));
        QVERIFY(!WriteIniString(gbk, u"\U0001F600"_qs, u"k"_qs, u"a"_qs));
        QCOMPARE(readFile(gbk), gbkBefore);

        // UTF-16 LE with a mark stays UTF-16 LE.
        const QString wide = file("wide.ini");
        QVERIFY(writeFile(wide, utf16le(u"[system]\r\nUID=玩家\r\n"_qs)));
        QCOMPARE(ReadIniString(wide, u"system"_qs, u"UID"_qs), u"玩家"_qs);
        QVERIFY(WriteIniString(wide, u"system"_qs, u"exit"_qs, u"1"_qs));
        QVERIFY(WriteIniString(wide, u"新"_qs, u"键"_qs, u"值"_qs));
        QCOMPARE(readFile(wide), utf16le(u"[system]\r\nUID=玩家\r\nexit=1\r\n[新]\r\n键=值\r\n"_qs));
        QVERIFY(WriteIniString(wide, u"新"_qs, u"\U0001F600"_qs, u"\U0001F600"_qs));
        QCOMPARE(ReadIniString(wide, u"新"_qs, u"\U0001F600"_qs), u"\U0001F600"_qs);

        // A UTF-16 file ending in half a character: what is appended after that byte would be
        // read shifted by one, so a new section is refused; lines inside the file still change.
        const QString odd = file("odd.ini");
        const QByteArray oddBytes = utf16le(u"[s]\r\nk=v\r\n"_qs) + 'x';
        QVERIFY(writeFile(odd, oddBytes));
        QVERIFY(!WriteIniString(odd, u"new"_qs, u"k"_qs, u"v"_qs));
        QCOMPARE(readFile(odd), oddBytes);
        QVERIFY(WriteIniString(odd, u"s"_qs, u"k"_qs, u"w"_qs));
        QVERIFY(WriteIniString(odd, u"s"_qs, u"k2"_qs, u"x"_qs));
        QCOMPARE(readFile(odd), utf16le(u"[s]\r\nk=w\r\nk2=x\r\n"_qs) + 'x');

        // UTF-8 with a mark is read and written as UTF-8.
        const QString utf8 = file("utf8.ini");
        QVERIFY(writeFile(utf8, "\xef\xbb\xbf[s]\nk=\xe4\xba\x91\n"));
        QCOMPARE(ReadIniString(utf8, u"s"_qs, u"k"_qs), u"云"_qs);
        QVERIFY(WriteIniString(utf8, u"s"_qs, u"k"_qs, u"帆"_qs));
        QCOMPARE(readFile(utf8), QByteArray("\xef\xbb\xbf[s]\nk=\xe5\xb8\x86\n"));
        QVERIFY(WriteIniString(utf8, u"s"_qs, u"e"_qs, u"\U0001F600"_qs));
        QCOMPARE(ReadIniString(utf8, u"s"_qs, u"e"_qs), u"\U0001F600"_qs);
        QVERIFY(!WriteIniString(utf8, u"s"_qs, u"e"_qs, QString(QChar(0xd800)))); // a lone surrogate
    }

    void pathsWithEitherSeparator()
    {
        QVERIFY(WriteIniString(m_dir.path() + u"/sep.ini"_qs, u"s"_qs, u"k"_qs, u"v"_qs));
        const QString dir = m_dir.path() + u'/';
        QCOMPARE(ReadIniString(dir + u"\\sep.ini"_qs, u"s"_qs, u"k"_qs), u"v"_qs);
        QCOMPARE(ReadIniString(dir + u"/sep.ini"_qs, u"s"_qs, u"k"_qs), u"v"_qs);
        QString backslashed = dir + u"sep.ini"_qs;
        backslashed.replace(u'/', u'\\');
        QCOMPARE(ReadIniString(backslashed, u"s"_qs, u"k"_qs), u"v"_qs);
    }

    void failedWriteLeavesFileAsItWas()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(u"locked.ini"_qs);
        QVERIFY(writeFile(ini, "[s]\nk=old\n"));
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        QFile probe(dir.filePath(u"probe"_qs));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QSKIP("this user may write into a read-only folder (root)");
        }
        QVERIFY(!WriteIniString(ini, u"s"_qs, u"k"_qs, u"new"_qs));
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(readFile(ini), QByteArray("[s]\nk=old\n"));
    }

    void writeToMissingFolderFails()
    {
        const QString ini = file("no/such/folder/x.ini");
        QVERIFY(!WriteIniString(ini, u"s"_qs, u"k"_qs, u"v"_qs));
        QVERIFY(!QFile::exists(ini));
    }

    void concurrentWritersLoseNothing()
    {
        const QString ini = file("threads.ini");
        constexpr int kThreads = 8;
        constexpr int kWrites = 400;
        std::vector<std::thread> threads;
        std::atomic<int> failures{0};
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                const QString key = u"key%1"_qs.arg(t);
                for (int i = 0; i < kWrites; ++i) {
                    if (!WriteIniString(ini, u"s%1"_qs.arg(t % 3), key, QString::number(i)))
                        ++failures;
                    if (ReadIniString(ini, u"s%1"_qs.arg(t % 3), key).toInt() != i)
                        ++failures;
                }
            });
        }
        for (auto& th : threads)
            th.join();
        QCOMPARE(failures.load(), 0);
        for (int t = 0; t < kThreads; ++t)
            QCOMPARE(ReadIniString(ini, u"s%1"_qs.arg(t % 3), u"key%1"_qs.arg(t)),
                     QString::number(kWrites - 1));
    }
};

YFZS_TEST_CLASS(IniTest)
#include "ini_test.moc"
