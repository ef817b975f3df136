// Requests for new windows from real pages: only a tool-origin frame's http(s) address after a
// real click leaves for the default browser, and the engine itself fetches nothing for it.
#include "testrunner.h"

#include "pagefixture.h"
#include "pagehost/htmlctrl.h"
#include "pagehost/newwindowgate.h"

#include <QDesktopServices>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }
};

const QStringList kSchemes{QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("vederu77")};

// A page whose top-left 300 × 150 pixels are one element that opens `what` when clicked.
QString clickablePage(const QString& what)
{
    return QStringLiteral("<html><body style='margin:0'>%1</body></html>").arg(what);
}

QString linkTo(const QString& href)
{
    return QStringLiteral(
               "<a target='_blank' href='%1' style='display:block;width:300px;height:150px'>go</a>")
        .arg(href);
}

QString buttonRunning(const QString& script)
{
    return QStringLiteral("<button onclick=\"%1\" style='width:300px;height:150px'>go</button>").arg(script);
}

QString frameOf(const QString& src)
{
    return QStringLiteral("<iframe src=\"%1\" style='border:0;width:400px;height:200px'></iframe>").arg(src);
}

} // namespace

class NewWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PageFixture> m_page;
    UrlRecorder m_recorder;
    pagehost::NewWindowGate* m_gate = nullptr;
    QString m_target;

    // Clicks the page's clickable area for real and returns whether the address went out. A
    // frame takes input only some time after it loaded, so the click is repeated until the gate
    // has decided; clicks that miss decide nothing.
    enum Outcome { Undecided, Opened, Refused };
    Outcome ClickAndDecide()
    {
        QSignalSpy decided(m_gate, &pagehost::NewWindowGate::Decided);
        QWidget* render = m_page->View()->focusProxy();
        for (int attempt = 0; attempt < 10 && decided.isEmpty(); ++attempt) {
            QTest::mouseMove(render, QPoint(60, 40));
            QTest::mouseClick(render, Qt::LeftButton, {}, QPoint(60, 40));
            decided.wait(2000);
        }
        if (decided.isEmpty() || !QTest::qWaitFor([this] { return m_gate->PendingCount() == 0; }, 15000))
            return Undecided;
        return decided.first().at(1).toBool() ? Opened : Refused;
    }

    void Load(const QByteArray& path, const QString& html)
    {
        QVERIFY(m_page->LoadToolPage(path, html));
        QTest::qWait(200); // let frames finish loading
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("yfzs.page.warning=true"));
        m_page = std::make_unique<PageFixture>();
        m_gate = pagehost::NewWindowGate::For(m_page->View()->page()->profile());
        for (const QString& scheme : kSchemes)
            QDesktopServices::setUrlHandler(scheme, &m_recorder, "open");
        m_page->Page("/target.html", QStringLiteral("<html><body>target</body></html>"));
        m_page->Page("/framed-link.html",
                     clickablePage(linkTo(m_page->ForeignUrl(QStringLiteral("/target.html")))));
        m_target = m_page->ForeignUrl(QStringLiteral("/target.html"));
        QTRY_VERIFY(m_page->View()->focusProxy());
    }

    void cleanupTestCase()
    {
        for (const QString& scheme : kSchemes)
            QDesktopServices::unsetUrlHandler(scheme);
        m_page.reset();
        QLoggingCategory::setFilterRules(QString());
    }

    void toolFrameAfterAClickOpensInTheDefaultBrowser()
    {
        // A link with target=_blank and a window.open from a click handler both go out; the
        // engine does not fetch the address itself, and the view stays on its page.
        Load("/link.html", clickablePage(linkTo(m_target)));
        QCOMPARE(ClickAndDecide(), Opened);
        Load("/button.html",
             clickablePage(buttonRunning(QStringLiteral("window.open('%1?b=1')").arg(m_target))));
        QCOMPARE(ClickAndDecide(), Opened);
        // A same-origin frame of the tool page is a frame of the tool origin.
        Load("/tool-framed.html", clickablePage(frameOf(QStringLiteral("/framed-link.html"))));
        QCOMPARE(ClickAndDecide(), Opened);
        QCOMPARE(m_recorder.urls,
                 QList<QUrl>({QUrl(m_target), QUrl(m_target + QStringLiteral("?b=1")), QUrl(m_target)}));
        QVERIFY(m_page->Server().RequestsFor("/target.html").isEmpty()); // never fetched by the view
        QCOMPARE(m_page->View()->url(), QUrl(m_page->ToolUrl(QStringLiteral("/tool-framed.html"))));
        QCOMPARE(m_gate->PendingCount(), 0);
        m_recorder.urls.clear();
    }

    void everythingElseIsRefused()
    {
        // No user gesture.
        Load("/quiet.html", clickablePage(QString()));
        QSignalSpy decided(m_gate, &pagehost::NewWindowGate::Decided);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("new window refused, no user gesture")));
        m_page->Eval(QStringLiteral("window.open('%1')").arg(m_target));
        QTRY_COMPARE(decided.size(), 1);
        QVERIFY(!decided.last().at(1).toBool());

        // Addresses other than http(s), even after a click: a pack install link, a blank window.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not a web address.*vederu77")));
        Load("/scheme.html",
             clickablePage(buttonRunning(QStringLiteral("window.open('vederu77://install/?id=1')"))));
        QCOMPARE(ClickAndDecide(), Refused);
        Load("/blank.html", clickablePage(buttonRunning(QStringLiteral("window.open('about:blank')"))));
        QCOMPARE(ClickAndDecide(), Refused);

        // A frame of another origin inside the tool page, and a data: frame (no origin at all).
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("requested by a frame of origin")));
        Load("/foreign-framed.html",
             clickablePage(frameOf(m_page->ForeignUrl(QStringLiteral("/framed-link.html")))));
        QCOMPARE(ClickAndDecide(), Refused);
        const QString dataFrame = QStringLiteral("data:text/html,")
            + QString::fromUtf8(QUrl::toPercentEncoding(clickablePage(linkTo(m_target))));
        Load("/data-framed.html", clickablePage(frameOf(dataFrame)));
        QCOMPARE(ClickAndDecide(), Refused);

        // The tool page after it navigated to another origin.
        Load("/leaving.html", clickablePage(QString()));
        QVERIFY(m_page->Load(m_page->ForeignUrl(QStringLiteral("/framed-link.html"))));
        QCOMPARE(ClickAndDecide(), Refused);

        QVERIFY(m_recorder.urls.isEmpty());
        QVERIFY(m_page->Server().RequestsFor("/target.html").isEmpty()); // never fetched by the view
        QTRY_COMPARE(m_gate->PendingCount(), 0);
    }
};

YFZS_TEST_CLASS(NewWindowTest)
#include "newwindow_test.moc"
