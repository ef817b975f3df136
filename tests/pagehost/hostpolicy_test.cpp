// The host policy every page runs under, and where window.external exists.
#include "testrunner.h"

#include "pagefixture.h"
#include "pagehost/htmlctrl.h"
#include "pagehost/pagebridge.h"
#include "testenv.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QMenu>
#include <QTest>

class HostPolicyTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PageFixture> m_page;

    QWidget* RenderWidget() { return m_page->View()->focusProxy(); }

private slots:
    void initTestCase()
    {
        m_page = std::make_unique<PageFixture>();
        widgets::msgbox::TakeAnsweredTexts();
    }

    void cleanupTestCase() { m_page.reset(); }

    void scriptErrorsAndMessageBoxes()
    {
        // A failing script shows nothing and the next script still runs.
        QVERIFY(m_page->LoadToolPage("/errors.html",
                                     QStringLiteral("<html><body><script>undefinedFunction();</script>"
                                                    "<script>throw new Error('boom');</script>"
                                                    "<script>window.after = 'ran';</script></body></html>")));
        QCOMPARE(m_page->Eval(QStringLiteral("window.after")).toString(), QStringLiteral("ran"));
        QVERIFY(widgets::msgbox::TakeAnsweredTexts().isEmpty());

        // alert and confirm are the program's message box; the pressed button comes back.
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Cancel);
        const QJsonValue r = m_page->Json(
            QStringLiteral("alert('你好'); return [confirm('continue?'), confirm('really?')];"));
        QCOMPARE(r, QJsonValue(QJsonArray{true, false}));
        QCOMPARE(
            widgets::msgbox::TakeAnsweredTexts(),
            QStringList({QStringLiteral("你好"), QStringLiteral("continue?"), QStringLiteral("really?")}));

        // A message about ActiveX is dropped: the answer queued for it goes to the next box.
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        m_page->Eval(QStringLiteral("alert('This page uses an ActiveX control'); alert('after');"));
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList{QStringLiteral("after")});
    }

    void noScrollBarsNoSelectionNoMenu()
    {
        QVERIFY(m_page->LoadToolPage(
            "/tall.html",
            QStringLiteral(
                "<!DOCTYPE html><html><body style='margin:0'><p id='word' style='font-size:40px'>Selectable "
                "words here</p>"
                "<input id='field' value='field text'><div style='height:5000px;width:5000px'></div>"
                "<script>window.menus = 0; document.addEventListener('contextmenu', () => "
                "++window.menus);</script>"
                "</body></html>")));
        // A page longer and wider than the view: no scroll bar takes room from it.
        QCOMPARE(
            m_page->Eval(QStringLiteral("window.innerWidth - document.documentElement.clientWidth")).toInt(),
            0);
        QCOMPARE(m_page->Eval(QStringLiteral("window.innerHeight - document.documentElement.clientHeight"))
                     .toInt(),
                 0);

        // Page text cannot be selected; form fields still can.
        QTRY_VERIFY(RenderWidget());
        QTest::mouseDClick(RenderWidget(), Qt::LeftButton, {}, QPoint(60, 30));
        QTest::qWait(300);
        QCOMPARE(m_page->Eval(QStringLiteral("window.getSelection().toString()")).toString(), QString());
        QCOMPARE(m_page->Eval(QStringLiteral("getComputedStyle(document.getElementById('field')).userSelect"))
                     .toString(),
                 QStringLiteral("text"));

        // A right click reaches the page but opens no menu.
        QTest::mouseClick(RenderWidget(), Qt::RightButton, {}, QPoint(60, 30));
        QTRY_COMPARE(m_page->Eval(QStringLiteral("window.menus")).toInt(), 1);
        QTest::qWait(300);
        QVERIFY(!QApplication::activePopupWidget());
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY(!(qobject_cast<QMenu*>(w) && w->isVisible()));
    }

    // Over https the origin is compared as over http: scheme, host and port, the scheme's own
    // port when none is written. http at the same host and port is another origin.
    void httpsToolOriginIsSchemeHostAndPort()
    {
        EnvGuard env;
        env.Set("QX77_TOOL_URL", "https://Tools.Example.com");
        using pagehost::bridge::IsToolOrigin;
        QCOMPARE(pagehost::bridge::ToolOrigin(), u"https://tools.example.com"_qs);
        QVERIFY(IsToolOrigin(QUrl(u"https://tools.example.com"_qs)));
        QVERIFY(IsToolOrigin(QUrl(u"https://TOOLS.example.com:443"_qs)));
        QVERIFY(!IsToolOrigin(QUrl(u"http://tools.example.com"_qs)));
        QVERIFY(!IsToolOrigin(QUrl(u"http://tools.example.com:443"_qs)));
        QVERIFY(!IsToolOrigin(QUrl(u"https://tools.example.com:8443"_qs)));
        QVERIFY(!IsToolOrigin(QUrl(u"https://tools.example.com.evil.example"_qs)));
        QVERIFY(!IsToolOrigin(QUrl(u"wss://tools.example.com"_qs)));

        env.Set("QX77_TOOL_URL", "https://127.0.0.1:8443");
        QCOMPARE(pagehost::bridge::ToolOrigin(), u"https://127.0.0.1:8443"_qs);
        QVERIFY(IsToolOrigin(QUrl(u"https://127.0.0.1:8443"_qs)));
        QVERIFY(!IsToolOrigin(QUrl(u"http://127.0.0.1:8443"_qs)));
        QVERIFY(!IsToolOrigin(QUrl(u"https://127.0.0.2:8443"_qs)));
    }

    void externalOnlyForTheToolOrigin()
    {
        const QString probe = QStringLiteral(
            "function probe() {"
            "  let raw; try { raw = prompt('\\u0001YFZS-external\\u0001[1,[]]', ''); } catch (e) { raw = "
            "'threw'; }"
            "  let call; try { call = window.external.GetVersion(); } catch (e) { call = 'threw'; }"
            "  return {has: typeof (window.external && window.external.GetVersion), raw: raw, call: call};"
            "}");
        m_page->Page(
            "/foreign.html",
            QStringLiteral("<html><body><script>%1"
                           "window.result = probe(); if (parent !== window) parent.postMessage(result, '*');"
                           "</script></body></html>")
                .arg(probe));

        // The tool page has it; a call made while the page is still loading works.
        QVERIFY(m_page->LoadToolPage(
            "/early.html",
            QStringLiteral(
                "<html><head><script>window.early = [document.readyState, window.external.GetVersion()];"
                "</script></head><body>tool</body></html>")));
        QCOMPARE(m_page->Json(QStringLiteral("return window.early;")),
                 QJsonValue(QJsonArray{QStringLiteral("loading"), 1}));

        // A page of another origin has none; a raw bridge message from it gets no answer.
        QVERIFY(m_page->Load(m_page->ForeignUrl(QStringLiteral("/foreign.html"))));
        const QJsonObject foreign = m_page->Json(QStringLiteral("return window.result;")).toObject();
        QCOMPARE(foreign.value(u"has").toString(), QStringLiteral("undefined"));
        QVERIFY(foreign.value(u"raw").isNull());
        QCOMPARE(foreign.value(u"call").toString(), QStringLiteral("threw"));

        // A frame of another origin inside the tool page has none; a tool-origin frame has it.
        m_page->Page(
            "/same.html",
            QStringLiteral("<html><body><script>parent.postMessage({has: typeof window.external.GetVersion,"
                           " call: window.external.getversion()}, '*');</script></body></html>"));
        QVERIFY(m_page->LoadToolPage(
            "/framed.html",
            QStringLiteral("<html><body><script>window.got = [];"
                           "addEventListener('message', e => got.push(e.data));</script>"
                           "<iframe src='%1'></iframe><iframe src='/same.html'></iframe></body></html>")
                .arg(m_page->ForeignUrl(QStringLiteral("/foreign.html")))));
        QTRY_COMPARE(m_page->Eval(QStringLiteral("window.got.length")).toInt(), 2);
        const QJsonArray got =
            m_page
                ->Json(QStringLiteral(
                    "return got.slice().sort((a, b) => String(a.has).localeCompare(String(b.has)));"))
                .toArray();
        QCOMPARE(got.at(0).toObject().value(u"has").toString(), QStringLiteral("function"));
        QCOMPARE(got.at(0).toObject().value(u"call").toInt(), 1);
        QCOMPARE(got.at(1).toObject().value(u"has").toString(), QStringLiteral("undefined"));
        QVERIFY(got.at(1).toObject().value(u"raw").isNull());

        // A tool-origin frame that navigates away keeps no working bridge, not even through a
        // reference its parent took earlier.
        m_page->Eval(QStringLiteral("window.kept = frames[1].external;"
                                    "frames[1].location = '%1';")
                         .arg(m_page->ForeignUrl(QStringLiteral("/foreign.html"))));
        QTRY_COMPARE(m_page->Eval(QStringLiteral("window.got.length")).toInt(), 3);
        QCOMPARE(m_page
                     ->Eval(QStringLiteral("(() => { try { return String(kept.GetVersion()); }"
                                           " catch (e) { return 'threw'; } })()"))
                     .toString(),
                 QStringLiteral("threw"));

        // The tool page itself navigating to another origin: nothing there.
        QVERIFY(m_page->LoadToolPage("/leaving.html", QStringLiteral("<html><body>tool</body></html>")));
        m_page->Eval(
            QStringLiteral("location.href = '%1'").arg(m_page->ForeignUrl(QStringLiteral("/foreign.html"))));
        QTRY_COMPARE(m_page->View()->url().host(), QStringLiteral("localhost"));
        QTRY_VERIFY(m_page->Eval(QStringLiteral("window.result !== undefined")).toBool());
        QCOMPARE(m_page->Json(QStringLiteral("return window.result;")).toObject().value(u"call").toString(),
                 QStringLiteral("threw"));
    }
};

YFZS_TEST_CLASS(HostPolicyTest)
#include "hostpolicy_test.moc"
