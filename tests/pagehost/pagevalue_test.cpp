// Argument conversions of the page API, as automation converts script values.
#include "testrunner.h"

#include "pagehost/pageapitable.h"
#include "pagehost/pagevalue.h"

#include <QJsonArray>
#include <QTest>

namespace {

QJsonValue tag(const QString& kind, const QJsonValue& payload = {}, const QString& text = {})
{
    QJsonArray a{kind};
    if (!payload.isUndefined())
        a.append(payload);
    if (!text.isNull())
        a.append(text);
    return a;
}

} // namespace

class PageValueTest : public QObject
{
    Q_OBJECT

private slots:
    void textToInt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("error");
        QTest::newRow("plain") << "42" << 42 << "";
        QTest::newRow("blanks and sign") << "  -17 " << -17 << "";
        QTest::newRow("thousands") << "1,234,567" << 1234567 << "";
        QTest::newRow("half to even down") << "2.5" << 2 << "";
        QTest::newRow("half to even up") << "3.5" << 4 << "";
        QTest::newRow("exponent") << "1.5e3" << 1500 << "";
        QTest::newRow("int max") << "2147483647" << 2147483647 << "";
        QTest::newRow("int min") << "-2147483648" << int(-2147483647 - 1) << "";
        QTest::newRow("too big") << "2147483648" << 0 << "overflow";
        QTest::newRow("huge exponent") << "1e400" << 0 << "overflow";
        QTest::newRow("empty") << "" << 0 << "type mismatch";
        QTest::newRow("word") << "abc" << 0 << "type mismatch";
        QTest::newRow("trailing junk") << "12px" << 0 << "type mismatch";
        QTest::newRow("bare sign") << "-" << 0 << "type mismatch";
    }

    void textToInt()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(QString, error);
        QString got;
        const std::optional<int> v = pagehost::IntFromText(text, &got);
        QCOMPARE(got, error);
        if (error.isEmpty())
            QCOMPARE(v.value(), value);
        else
            QVERIFY(!v);
    }

    void argumentsByDeclaredType()
    {
        auto asInt = [](const QJsonValue& tagged) {
            const pagehost::PageConversion c = pagehost::ConvertPageArgument(tagged, pagehost::PageType::Int);
            return c.error.isEmpty() ? QVariant(std::get<int>(c.value)) : QVariant(c.error);
        };
        auto asText = [](const QJsonValue& tagged) {
            const pagehost::PageConversion c = pagehost::ConvertPageArgument(tagged,
                                                                             pagehost::PageType::String);
            return c.error.isEmpty() ? std::get<QString>(c.value) : QStringLiteral("error: ") + c.error;
        };
        QCOMPARE(asInt(tag(QStringLiteral("n"), 7.5)), QVariant(8));
        QCOMPARE(asInt(tag(QStringLiteral("n"), -0.5)), QVariant(0));
        QCOMPARE(asInt(tag(QStringLiteral("n"), 5e9)), QVariant(QStringLiteral("overflow")));
        QCOMPARE(asInt(tag(QStringLiteral("f"), QStringLiteral("NaN"))),
                 QVariant(QStringLiteral("overflow")));
        QCOMPARE(asInt(tag(QStringLiteral("s"), QStringLiteral(" 12 "))), QVariant(12));
        QCOMPARE(asInt(tag(QStringLiteral("b"), true)), QVariant(-1));
        QCOMPARE(asInt(tag(QStringLiteral("u"))), QVariant(0));
        QCOMPARE(asInt(tag(QStringLiteral("z"))), QVariant(QStringLiteral("type mismatch")));
        QCOMPARE(asInt(tag(QStringLiteral("o"), QString(), QStringLiteral("[object Object]"))),
                 QVariant(QStringLiteral("type mismatch")));
        QCOMPARE(asInt(tag(QStringLiteral("o"), QString(), QStringLiteral("5"))), QVariant(5));

        QCOMPARE(asText(tag(QStringLiteral("n"), 12)), QStringLiteral("12"));
        QCOMPARE(asText(tag(QStringLiteral("n"), 1.5)), QStringLiteral("1.5"));
        QCOMPARE(asText(tag(QStringLiteral("n"), 1e21)), QStringLiteral("1E+21"));
        QCOMPARE(asText(tag(QStringLiteral("b"), false)), QStringLiteral("0"));
        QCOMPARE(asText(tag(QStringLiteral("u"))), QString());
        QCOMPARE(asText(tag(QStringLiteral("z"))), QStringLiteral("error: type mismatch"));
        QCOMPARE(asText(tag(QStringLiteral("o"), QString(), QStringLiteral("1,2"))), QStringLiteral("1,2"));

        // Only objects pass as objects; the page's document carries its token.
        const pagehost::PageConversion doc = pagehost::ConvertPageArgument(
            tag(QStringLiteral("o"), QStringLiteral("tok"), {}), pagehost::PageType::Object);
        QCOMPARE(std::get<pagehost::PageObject>(doc.value).documentToken, QStringLiteral("tok"));
        QVERIFY(!pagehost::ConvertPageArgument(tag(QStringLiteral("n"), 1), pagehost::PageType::Object)
                     .error.isEmpty());
    }

    void tableOrderAndNames()
    {
        // The identifiers are positions: the order is the interface.
        const QStringList names = pagehost::PageMethodNames();
        QCOMPARE(names.size(), 23);
        QCOMPARE(names.first(), QStringLiteral("GetVersion"));
        QCOMPARE(names.indexOf(QStringLiteral("SetCallBack")), 10);
        QCOMPARE(names.last(), QStringLiteral("GetFilePath"));
        QCOMPARE(pagehost::PageMethodId(u"getfilepath"), 23);
        QCOMPARE(pagehost::PageMethodId(u"GETVERSION"), 1);
        QCOMPARE(pagehost::PageMethodId(u"GetVersions"), 0);
    }
};

YFZS_TEST_CLASS(PageValueTest)
#include "pagevalue_test.moc"
