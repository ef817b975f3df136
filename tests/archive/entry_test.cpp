#include "testenv.h"
#include "testrunner.h"

#include "archive/entrymeta.h"
#include "archive/entryname.h"
#include "platform/codec.h"
#include "zipbuilder.h"

#include <QTest>

// Names, attributes and times as the reader derives them from stored header fields.
class EntryTest : public QObject
{
    Q_OBJECT

    EnvGuard m_env;

private slots:
    void initTestCase()
    {
        // Eight hours from UTC, so that local-time mistakes show.
        m_env.Set("TZ", "Asia/Shanghai");
    }

    void cleaning_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("cleaned");
        QTest::newRow("plain") << u"a/b.txt"_qs << u"a/b.txt"_qs;
        QTest::newRow("climb /") << u"../x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("climb \\") << u"..\\x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("climb twice") << u"../../..\\x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("inner climb") << u"a/../../x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("inner mixed") << u"a\\../b/..\\x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("root /") << u"/x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("root \\") << u"\\x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("unc") << u"\\\\server\\share\\x.txt"_qs << u"server\\share\\x.txt"_qs;
        QTest::newRow("drive") << u"C:\\x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("drive relative") << u"C:x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("drive then climb") << u"C:/../d:/..\\x.txt"_qs << u"x.txt"_qs;
        QTest::newRow("dot then climb") << u"./../x"_qs << u"x"_qs;
        QTest::newRow("doubled separators") << u"a//..//../x"_qs << u"x"_qs;
        // First of the four inner patterns in rule order wins, not the leftmost one.
        QTest::newRow("pattern order") << u"p/../q\\..\\r"_qs << u"r"_qs;
        QTest::newRow("trailing dots stay") << u"a/.."_qs << u"a/.."_qs;
        QTest::newRow("dots in names") << u"..a/b..c/...\\x"_qs << u"..a/b..c/...\\x"_qs;
        QTest::newRow("only climb") << u"../"_qs << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("single char") << u"a"_qs << u"a"_qs;
        QTest::newRow("many steps") << u"a/../b\\..\\C:../"_qs.repeated(5000) + u"x"_qs << u"x"_qs;
        QTest::newRow("steps then patterns")
            << u"/../"_qs.repeated(3000) + u"k\\..\\"_qs.repeated(3000) + u"y"_qs << u"y"_qs;
    }

    void cleaning()
    {
        QFETCH(QString, stored);
        QFETCH(QString, cleaned);
        const QString result = archive::CleanEntryName(stored);
        QCOMPARE(result, cleaned);
        QCOMPARE(archive::CleanEntryName(result), result);
        QVERIFY(!result.startsWith(u'/') && !result.startsWith(u'\\') && !result.startsWith(u"../"));
    }

    void decoding()
    {
        const QString chinese = u"皮肤/图标.png"_qs;
        QCOMPARE(archive::DecodeEntryName(chinese.toUtf8(), true), chinese);
        QCOMPARE(archive::DecodeEntryName(platform::ToAnsi(chinese), false), chinese);
        // UTF-8 bytes read as GBK give a different name: the flag decides.
        QVERIFY(archive::DecodeEntryName(chinese.toUtf8(), false) != chinese);
        QCOMPARE(archive::DecodeEntryName("plain.txt", false), u"plain.txt"_qs);
    }

    void attributes_data()
    {
        QTest::addColumn<int>("versionMadeBy");
        QTest::addColumn<quint32>("external");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("dos archive") << 0x0014 << quint32(0x20) << quint32(0x20);
        QTest::newRow("dos all bits") << 0x0014 << quint32(0xFFFFFFFF) << quint32(0x37);
        QTest::newRow("ntfs host") << 0x0B14 << quint32(0x11) << quint32(0x11);
        QTest::newRow("vfat host") << 0x0E14 << quint32(0x03) << quint32(0x03);
        QTest::newRow("unix file") << 0x0314 << quint32(0100644u << 16) << quint32(0x20);
        QTest::newRow("unix read-only") << 0x0314 << quint32(0100444u << 16) << quint32(0x21);
        QTest::newRow("unix folder") << 0x0314 << quint32(0040755u << 16) << quint32(0x30);
        QTest::newRow("unix link is a file") << 0x0314 << quint32(0120777u << 16) << quint32(0x20);
        QTest::newRow("unix dos bits ignored") << 0x0314 << quint32((0100644u << 16) | 0x11) << quint32(0x20);
    }

    void attributes()
    {
        QFETCH(int, versionMadeBy);
        QFETCH(quint32, external);
        QFETCH(quint32, expected);
        QCOMPARE(archive::EntryAttributes(quint16(versionMadeBy), external), expected);
    }

    void dosTimeIsLocal()
    {
        // 2025-04-10 12:00:00 local is 04:00:00 UTC in Shanghai.
        const qint64 t = archive::DosDateTimeToFileTime(0x5A8A6000);
        QCOMPARE(archive::FileTimeToDateTime(t), QDateTime(QDate(2025, 4, 10), QTime(12, 0), Qt::LocalTime));
        QCOMPARE(archive::FileTimeToDateTime(t).toUTC().time(), QTime(4, 0));
        QCOMPARE(archive::DosDateTimeToFileTime(0x00210000),
                 archive::UnixSecondsToFileTime(315504000LL));           // 1980-01-01 local
        QCOMPARE(archive::DosDateTimeToFileTime(0), qint64(0));          // month 0
        QCOMPARE(archive::DosDateTimeToFileTime(0x5A8A601F), qint64(0)); // 62 seconds
    }

    void extendedTimestamp()
    {
        auto with = [](const QByteArray& extra) {
            archive::EntryTimes t;
            t.modification = 1;
            t.access = 2;
            t.creation = 3;
            archive::ApplyExtendedTimestamp(extra, t);
            return QList<qint64>{t.modification, t.access, t.creation};
        };
        const qint64 a = archive::UnixSecondsToFileTime(1000000000);
        const qint64 b = archive::UnixSecondsToFileTime(1100000000);
        const qint64 c = archive::UnixSecondsToFileTime(-100); // before 1970 is fine
        QCOMPARE(a, 116444736000000000LL + 10000000000000000LL);
        QCOMPARE(with(ExtendedTimestamp(7, {1000000000, 1100000000, -100})), (QList<qint64>{a, b, c}));
        // Only the flagged times, in modification, access, creation order.
        QCOMPARE(with(ExtendedTimestamp(6, {1000000000, 1100000000})), (QList<qint64>{1, a, b}));
        QCOMPARE(with(ExtendedTimestamp(1, {1000000000})), (QList<qint64>{a, 2, 3}));
        // Found behind another block; only the first UT block counts.
        const QByteArray other = QByteArray("ux\x03\x00\x01\x02\x03", 7);
        QCOMPARE(with(other + ExtendedTimestamp(1, {1000000000}) + ExtendedTimestamp(1, {1100000000})),
                 (QList<qint64>{a, 2, 3}));
        // A block that claims more times than it holds gives only those it holds.
        QCOMPARE(with(ExtendedTimestamp(7, {1000000000}, 5)), (QList<qint64>{a, 2, 3}));
        QCOMPARE(with(ExtendedTimestamp(7, {1000000000, 1100000000}, 13).left(11)), (QList<qint64>{a, 2, 3}));
        QCOMPARE(with(ExtendedTimestamp(7, {}, 0)), (QList<qint64>{1, 2, 3}));
        // Too short to search, or a block size that runs past the end.
        QCOMPARE(with(QByteArray("UT\x05\x00", 4)), (QList<qint64>{1, 2, 3}));
        QCOMPARE(with(QByteArray("ab\xff\xff\x01UT\x05\x00\x01", 10)), (QList<qint64>{1, 2, 3}));
    }
};

YFZS_TEST_CLASS(EntryTest)
#include "entry_test.moc"
