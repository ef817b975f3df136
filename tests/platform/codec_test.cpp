#include "testrunner.h"

#include "platform/codec.h"

#include <QTest>

class CodecTest : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("gbk");
        QTest::newRow("ascii") << u"exit=1"_qs << QByteArray("exit=1");
        QTest::newRow("chinese") << u"穿越火线"_qs << QByteArray("\xb4\xa9\xd4\xbd\xbb\xf0\xcf\xdf");
        QTest::newRow("mixed") << u"a云b"_qs
                               << QByteArray("a\xd4\xc6"
                                             "b");
        QTest::newRow("euro") << u"€"_qs << QByteArray("\x80");
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void roundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, gbk);
        QCOMPARE(platform::ToAnsi(text), gbk);
        QCOMPARE(platform::FromAnsi(gbk), text);
        QCOMPARE(platform::AnsiLength(text), gbk.size());
    }

    void unencodableBecomesQuestionMark()
    {
        // An emoji (a surrogate pair) and a lone surrogate each become one '?'.
        QCOMPARE(platform::ToAnsi(u"a\U0001F600b"_qs), QByteArray("a?b"));
        QCOMPARE(platform::ToAnsi(QString(QChar(0xD800)) + u'x'), QByteArray("?x"));
        QCOMPARE(platform::ToAnsi(u"한국"_qs), QByteArray("??"));
    }

    void invalidBytesBecomeReplacementCharacters()
    {
        const QChar bad(QChar::ReplacementCharacter);
        QCOMPARE(platform::FromAnsi(QByteArray("a\xff"
                                               "b")),
                 QString(u'a' + QString(bad) + u'b'));
        // A lead byte cut off at the end of the input.
        QCOMPARE(platform::FromAnsi(QByteArray("ab\xd4")), QString(u"ab"_qs + bad));
        // Long random garbage never crashes and keeps every ASCII byte.
        QByteArray noise;
        for (int i = 0; i < 100000; ++i)
            noise.append(char((i * 7919) % 256));
        const QString decoded = platform::FromAnsi(noise);
        QVERIFY(!decoded.isEmpty());
    }

    void largeTextAcrossBufferBoundaries()
    {
        QString text;
        for (int i = 0; i < 5000; ++i)
            text += u"云帆助手x"_qs;
        const QByteArray gbk = platform::ToAnsi(text);
        QCOMPARE(gbk.size(), qsizetype(5000 * 9));
        QCOMPARE(platform::FromAnsi(gbk), text);
    }
};

YFZS_TEST_CLASS(CodecTest)
#include "codec_test.moc"
