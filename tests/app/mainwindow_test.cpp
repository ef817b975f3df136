#include "app/mainwindow.h"
#include "app/tray.h"
#include "pagehost/htmlctrl.h"

#include "appfixture.h"
#include "config/inifile.h"
#include "config/programdir.h"
#include "config/settingskeys.h"
#include "fakeservicehost.h"
#include "httpfixture.h"
#include "testenv.h"
#include "testrunner.h"
#include "toolpagefixture.h"
#include "widgets/messagebox.h"
#include "widgets/trayavailability.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

namespace {

QColor textColour(QWidget* edit)
{
    return edit->palette().color(QPalette::Text);
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

public slots:
    void OpenUrl(const QUrl& url) { m_opened.append(url); }

private:
    LoopbackHttpServer m_pages;
    FakeServiceHost m_service{FakeServiceHost::Quiet()};
    QTemporaryDir m_xdg;
    QList<QUrl> m_opened;
    EnvGuard m_env; // the addresses and folders below, put back when the test ends

private slots:
    void initTestCase()
    {
        QVERIFY(m_pages.Start());
        TestResource page("<html><body>tool page</body></html>");
        page.contentType = "text/html";
        m_pages.Put("/CF20/CF_Index.aspx", page);
        // Offscreen has no tray; these cases are about a desktop with one (desktop_test has both).
        widgets::SetSystemTrayAvailableForTest(true);
        m_env.Set("QX77_SERVICE_PORT", QByteArray::number(m_service.port()));
        // The window registers the URL scheme at start; keep that in the test's own folders.
        m_env.Set("XDG_DATA_HOME", QFile::encodeName(m_xdg.filePath(QStringLiteral("data"))));
        m_env.Set("XDG_CONFIG_HOME", QFile::encodeName(m_xdg.filePath(QStringLiteral("config"))));
        m_env.Set("QX77_TOOL_PORT", QByteArray::number(m_pages.Port()));
        m_env.Set("QX77_FORUM_URL", "http://forum.test:81/");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "OpenUrl");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    // The frame the rest relies on: the borderless 800 × 600 window, the browser view as
    // control 1000, a password box that hides what is typed, the tray icon.
    void windowFrameAndTray()
    {
        auto window = MakeMainWindow();
        QCOMPARE(window->size(), QSize(800, 600));
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!window->windowIcon().isNull());
        QCOMPARE(window->GetDlgItem(1000), window->BrowserView());
        QCOMPARE(qobject_cast<QLineEdit*>(window->GetDlgItem(1012))->echoMode(), QLineEdit::Password);
        QVERIFY(window->Tray()->IsAdded());
        window->OnCancel();
    }

    void maskCutsTheCorners()
    {
        auto window = MakeMainWindow();
        const QRegion mask = window->mask();
        for (QPoint cut : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(799, 0), QPoint(798, 0),
                           QPoint(799, 1), QPoint(0, 599), QPoint(0, 598), QPoint(1, 599), QPoint(799, 599),
                           QPoint(798, 599), QPoint(799, 598), QPoint(797, 599)})
            QVERIFY2(!mask.contains(cut), qPrintable(QStringLiteral("%1,%2").arg(cut.x()).arg(cut.y())));
        for (QPoint kept : {QPoint(5, 0), QPoint(794, 0), QPoint(0, 5), QPoint(799, 300), QPoint(400, 599),
                            QPoint(400, 300), QPoint(5, 599), QPoint(794, 599)})
            QVERIFY2(mask.contains(kept), qPrintable(QStringLiteral("%1,%2").arg(kept.x()).arg(kept.y())));
        window->OnCancel();
    }

    // Focus into the account box removes the placeholder; leaving it empty brings it back in
    // grey; typed text stays and shows near-black.
    void accountPlaceholderFollowsFocus()
    {
        auto window = MakeMainWindow();
        auto* account = qobject_cast<QLineEdit*>(window->GetDlgItem(1011));
        auto* password = qobject_cast<QLineEdit*>(window->GetDlgItem(1012));
        const QColor grey(190, 190, 190), black(10, 10, 10);
        QCOMPARE(textColour(account), grey);
        QCOMPARE(textColour(password), grey);
        QCOMPARE(account->palette().color(QPalette::Base), QColor(Qt::white));

        account->setFocus();
        QTRY_VERIFY(account->hasFocus());
        QVERIFY(window->AccountEntered());
        QCOMPARE(textColour(account), black);

        password->setFocus();
        QTRY_VERIFY(password->hasFocus());
        QCOMPARE(account->text(), DEZIRUdu::AccountPlaceholder());
        QCOMPARE(window->AccountText(), QStringLiteral("请输入qx77通行证"));
        QVERIFY(!window->AccountEntered());
        QCOMPARE(textColour(account), grey);

        account->setFocus();
        QTRY_VERIFY(account->hasFocus());
        QCOMPARE(account->text(), QString());
        QTest::keyClicks(account, QStringLiteral("player1"));
        password->setFocus();
        QTRY_VERIFY(password->hasFocus());
        QCOMPARE(account->text(), QStringLiteral("player1"));
        QCOMPARE(window->AccountText(), QStringLiteral("player1"));
        QVERIFY(window->AccountEntered());
        QCOMPARE(textColour(account), black);
        // Coming back to typed text keeps it.
        account->setFocus();
        QTRY_VERIFY(account->hasFocus());
        QCOMPARE(account->text(), QStringLiteral("player1"));

        // The texts go both ways through UpdateData.
        QTest::keyClicks(password, QStringLiteral("secret"));
        window->UpdateData(true);
        QCOMPARE(window->PasswordText(), QStringLiteral("secret"));
        window->AccountText() = QStringLiteral("other");
        window->UpdateData(false);
        QCOMPARE(account->text(), QStringLiteral("other"));
        window->OnCancel();
    }

    void enterKeepsTheWindowEscapeEndsIt()
    {
        auto window = MakeMainWindow();
        auto* account = window->GetDlgItem(1011);
        auto* password = window->GetDlgItem(1012);
        account->setFocus();
        QTest::keyClick(account, Qt::Key_Return);
        QTest::keyClick(password, Qt::Key_Enter);
        QTest::keyClick(window.get(), Qt::Key_Return);
        QVERIFY(!window->IsEnded());
        QVERIFY(window->isVisible());
        QVERIFY(window->Tray()->IsAdded());

        QTest::keyClick(password, Qt::Key_Escape);
        QVERIFY(window->IsEnded());
        QVERIFY(!window->isVisible());
        QVERIFY(!window->Tray()->IsAdded());
    }

    void systemCloseEndsTheRun()
    {
        auto window = std::make_unique<DEZIRUdu>();
        // Close arrives while the window runs modally; the run returns the cancel result.
        QTimer::singleShot(0, window.get(), [&window] { window->close(); });
        QCOMPARE(window->DoModal(), 2);
        QVERIFY(window->IsEnded());
        QVERIFY(!window->Tray()->IsAdded());
    }

    void closeButtonReadsExitAtEveryClick()
    {
        FileGuard guard(config::GetConfigPath());
        auto window = MakeMainWindow();
        auto* close = window->GetDlgItem(1002);

        QVERIFY(WriteIniString(config::GetConfigPath(), config::keys::kSystem, config::keys::kExit,
                               QStringLiteral("1")));
        QTest::mouseClick(close, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!window->isVisible());
        QVERIFY(!window->IsEnded());
        QVERIFY(window->Tray()->IsAdded());

        // Back from the tray; the setting changed meanwhile and the next click ends at once.
        window->Tray()->ToggleVisibility();
        QVERIFY(window->isVisible());
        QVERIFY(WriteIniString(config::GetConfigPath(), config::keys::kSystem, config::keys::kExit,
                               QStringLiteral("0")));
        QTest::mouseClick(close, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(window->IsEnded());
        QVERIFY(!window->Tray()->IsAdded());
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList());
    }

    void closeButtonWithoutSettingEnds_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("missing") << QString();
        QTest::newRow("empty") << QStringLiteral("");
        QTest::newRow("1 with space") << QStringLiteral("1 x");
        QTest::newRow("yes") << QStringLiteral("yes");
    }

    void closeButtonWithoutSettingEnds()
    {
        QFETCH(QString, value);
        FileGuard guard(config::GetConfigPath());
        if (!value.isNull())
            QVERIFY(
                WriteIniString(config::GetConfigPath(), config::keys::kSystem, config::keys::kExit, value));
        auto window = MakeMainWindow();
        QTest::mouseClick(window->GetDlgItem(1002), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(window->IsEnded());
    }

    void minimiseKeepsTheTrayIcon()
    {
        auto window = MakeMainWindow();
        QTest::mouseClick(window->GetDlgItem(1001), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_VERIFY(window->isMinimized());
        QVERIFY(window->isVisible());
        QVERIFY(window->Tray()->IsAdded());
        QVERIFY(!window->IsEnded());
        window->OnCancel();
    }

    // Where the windowing system cannot move the window itself, the strip drags it by hand.
    void topStripDragsTheWindow()
    {
        auto window = MakeMainWindow();
        window->move(50, 40);
        // Pressed at `from`, moved to `to` with the button held, let go there.
        auto drag = [&](QPoint from, QPoint to) {
            QTest::mousePress(window.get(), Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, QPointF(to), window->mapToGlobal(QPointF(to)), Qt::NoButton,
                             Qt::LeftButton, {});
            QApplication::sendEvent(window.get(), &move);
            QTest::mouseRelease(window.get(), Qt::LeftButton, {}, to);
        };
        const QPoint start = window->pos();
        drag(QPoint(200, 12), QPoint(230, 32));
        QCOMPARE(window->pos(), start + QPoint(30, 20));

        // Below the strip the window stays put.
        const QPoint now = window->pos();
        drag(QPoint(200, 40), QPoint(260, 80));
        QCOMPARE(window->pos(), now);
        window->OnCancel();
    }

    void pageLoadsAndReloadsAfterLogin()
    {
        m_pages.ClearLog();
        auto window = MakeMainWindow();
        QSignalSpy loaded(window->BrowserView(), &QWebEngineView::loadFinished);
        QVERIFY(loaded.wait(30000));
        QCOMPARE(window->BrowserView()->url(), QUrl(m_pages.Url(QStringLiteral("/CF20/CF_Index.aspx"))));
        QCOMPARE(m_pages.Paths().count(QStringLiteral("/CF20/CF_Index.aspx")), 1);

        // The login worker posts its end; the page is fetched again.
        QMetaObject::invokeMethod(window.get(), "OnLoginDone", Qt::QueuedConnection);
        QVERIFY(loaded.wait(30000));
        QCOMPARE(m_pages.Paths().count(QStringLiteral("/CF20/CF_Index.aspx")), 2);
        window->OnCancel();
    }

    void helpOpensTheForumThread()
    {
        m_opened.clear();
        auto window = MakeMainWindow();
        // The "?" opens its menu (the help page, 关于); the first item is the thread.
        QTest::mouseClick(window->GetDlgItem(1033), Qt::LeftButton, {}, QPoint(5, 5));
        QMenu* menu = nullptr;
        QTRY_VERIFY((menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())));
        QVERIFY(m_opened.isEmpty());
        menu->actions().first()->trigger();
        menu->close();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("http://forum.test:81/thread-5391013-1-1.html"))});
        window->OnCancel();
    }
};

YFZS_TEST_CLASS(MainWindowTest)
#include "mainwindow_test.moc"
