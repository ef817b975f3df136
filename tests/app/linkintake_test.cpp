#include "testrunner.h"

#include "app/linkintake.h"

#include <QTest>

Q_DECLARE_METATYPE(LinkCheck)

class LinkIntakeTest : public QObject
{
    Q_OBJECT

private slots:
    void grammar_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<LinkCheck>("check");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("type");

        const auto ok = LinkCheck::Ok;
        const auto bad = LinkCheck::Malformed;
        QTest::newRow("plain") << u"VEDERU77://127.0.0.1:8088/packs/ui.zip&2"_qs << ok
                               << u"127.0.0.1:8088/packs/ui.zip"_qs << u"ui.zip"_qs << u"2"_qs;
        QTest::newRow("type is the last character")
            << u"VEDERU77://h/p/a.zip&12"_qs << ok << u"h/p/a.zip"_qs << u"a.zip"_qs << u"2"_qs;
        QTest::newRow("scheme not compared")
            << u"xxxxxxxx://h/a.zip&1"_qs << ok << u"h/a.zip"_qs << u"a.zip"_qs << u"1"_qs;
        QTest::newRow("last & ends the address") << u"VEDERU77://h/get?a=1&b=2/c.zip&3"_qs << ok
                                                 << u"h/get?a=1&b=2/c.zip"_qs << u"c.zip"_qs << u"3"_qs;
        QTest::newRow("chinese name")
            << u"VEDERU77://h/资源/准星.zip&1"_qs << ok << u"h/资源/准星.zip"_qs << u"准星.zip"_qs << u"1"_qs;
        QTest::newRow("one character before the dot")
            << u"VEDERU77://h/a.zip&1"_qs << ok << u"h/a.zip"_qs << u"a.zip"_qs << u"1"_qs;

        QTest::newRow("slash after the &")
            << u"VEDERU77://h/a.zip&2/"_qs << bad << QString() << QString() << QString();
        QTest::newRow("& before the last slash")
            << u"VEDERU77://h&2/a.zip"_qs << bad << QString() << QString() << QString();
        QTest::newRow("no &") << u"VEDERU77://h/a.zip2"_qs << bad << QString() << QString() << QString();
        QTest::newRow("no slash") << u"VEDERU77:a.zip&2"_qs << bad << QString() << QString() << QString();
        QTest::newRow("name starts with its dot")
            << u"VEDERU77://h/.zip&2"_qs << bad << QString() << QString() << QString();
        QTest::newRow("name without a dot")
            << u"VEDERU77://h/zip&2"_qs << bad << QString() << QString() << QString();
        QTest::newRow("empty") << QString() << bad << QString() << QString() << QString();
        QTest::newRow("climbing name")
            << u"VEDERU77://h/x..\\..\\evil.zip&2"_qs << bad << QString() << QString() << QString();
        QTest::newRow("backslash name")
            << u"VEDERU77://h/a\\b.zip&2"_qs << bad << QString() << QString() << QString();

        QTest::newRow("unknown kind")
            << u"VEDERU77://h/a.zip&4"_qs << LinkCheck::UnknownType << QString() << QString() << QString();
        QTest::newRow("letter kind") << u"VEDERU77://h/a.zip&x"_qs << LinkCheck::UnknownType << QString()
                                     << QString() << QString();
    }

    void grammar()
    {
        QFETCH(QString, link);
        QFETCH(LinkCheck, check);
        ParsedLink parsed;
        QCOMPARE(ParseLink(link, parsed), check);
        if (check != LinkCheck::Ok)
            return;
        QFETCH(QString, address);
        QFETCH(QString, fileName);
        QFETCH(QString, type);
        QCOMPARE(parsed.address, address);
        QCOMPARE(parsed.fileName, fileName);
        QCOMPARE(parsed.type, type);
    }
};

YFZS_TEST_CLASS(LinkIntakeTest)
#include "linkintake_test.moc"
