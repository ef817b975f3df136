#include "mainwindow.h"
#include "htmlctrl.h"
#include "tray.h"

#include "inifile.h"
#include "messagebox.h"
#include "pngbutton.h"
#include "programdir.h"
#include "settingskeys.h"
#include "trayavailability.h"
#include "appfixture.h"
#include "testrunner.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>


namespace {

// A tool server on loopback that answers every request with a small page and notes the paths.
class PageServer : public QObject
{
    Q_OBJECT

public:
    bool Start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, &PageServer::OnConnection);
        return m_server.listen(QHostAddress::LocalHost);
    }
    quint16 Port() const { return m_server.serverPort(); }
    QStringList paths;

private:
    void OnConnection()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                m_buffers[socket] += socket->readAll();
                QByteArray& request = m_buffers[socket];
                if (!request.contains("\r\n\r\n"))
                    return;
                const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
                paths.append(QString::fromLatin1(line.value(1)));
                request.clear();
                const QByteArray body = "<html><body>tool page</body></html>";
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
                              "Cache-Control: no-store\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

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
    PageServer m_pages;
    QuietServiceHost m_service;
    QTemporaryDir m_xdg;
    QList<QUrl> m_opened;
    QByteArray m_oldToolPort;
    QByteArray m_oldForum;

    // An initialised, shown and active main window, as start-up leaves it.
    std::unique_ptr<DEZIRUdu> MakeWindow()
    {
        auto window = std::make_unique<DEZIRUdu>();
        window->OnInitDialog();
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get()))
            qWarning("main window not active");
        return window;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pages.Start());
        QVERIFY(m_service.Start());
        // Offscreen has no tray; these cases are about a desktop with one (desktop_test has both).
        SetSystemTrayAvailableForTest(true);
        qputenv("QX77_SERVICE_PORT", QByteArray::number(m_service.Port()));
        // The window registers the URL scheme at start; keep that in the test's own folders.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_xdg.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_xdg.filePath(QStringLiteral("config"))));
        m_oldToolPort = qgetenv("QX77_TOOL_PORT");
        m_oldForum = qgetenv("QX77_FORUM_URL");
        qputenv("QX77_TOOL_PORT", QByteArray::number(m_pages.Port()));
        qputenv("QX77_FORUM_URL", "http://forum.test:81/");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "OpenUrl");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        qputenv("QX77_TOOL_PORT", m_oldToolPort);
        qputenv("QX77_FORUM_URL", m_oldForum);
    }

    void controlsSitAtTheirRectangles()
    {
        auto window = MakeWindow();
        QCOMPARE(window->size(), QSize(800, 600));
        QCOMPARE(window->windowTitle(), QStringLiteral("QX77 云帆助手"));
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!window->windowIcon().isNull());

        const struct {
            int id;
            QRect rect;
            bool visible;
        } expected[] = {
            {1000, {2, 100, 796, 498}, true},  {1001, {756, 10, 20, 20}, true},
            {1002, {778, 10, 20, 20}, true},   {1008, {298, 36, 60, 55}, true},
            {1009, {378, 36, 60, 55}, true},   {1010, {458, 36, 60, 55}, true},
            {1011, {586, 47, 121, 21}, true},  {1012, {586, 70, 121, 21}, true},
            {1013, {707, 47, 43, 43}, true},   {1014, {751, 47, 43, 43}, true},
            {1015, {544, 51, 39, 14}, true},   {1016, {544, 75, 39, 14}, true},
            {1017, {548, 9, 33, 14}, false},   {1018, {751, 47, 43, 43}, false},
            {1033, {734, 10, 20, 20}, true},
        };
        for (const auto& control : expected) {
            QWidget* widget = window->GetDlgItem(control.id);
            QVERIFY2(widget, qPrintable(QString::number(control.id)));
            QCOMPARE(widget->geometry(), control.rect);
            QCOMPARE(widget->isVisible(), control.visible);
        }
        QCOMPARE(window->GetDlgItem(1000), window->BrowserView());
        QCOMPARE(qobject_cast<QLineEdit*>(window->GetDlgItem(1012))->echoMode(), QLineEdit::Password);
        QCOMPARE(qobject_cast<QLabel*>(window->GetDlgItem(1015))->text(), QStringLiteral("账号："));
        QCOMPARE(qobject_cast<QLabel*>(window->GetDlgItem(1016))->text(), QStringLiteral("密码："));
        QCOMPARE(window->GetDlgItem(1015)->palette().color(QPalette::WindowText), QColor(63, 64, 65));
        // The small glyph buttons keep their 13 × 13 frame inside their 20 × 20 box.
        QCOMPARE(window->Control<PngButton>(1002)->FrameWidth(), 13);

        // Tooltips on the login, register and help buttons only.
        QCOMPARE(window->GetDlgItem(1013)->toolTip(), QStringLiteral("登陆以后您可以收藏资源，并可以异地下载哦 :)"));
        QCOMPARE(window->GetDlgItem(1014)->toolTip(), QStringLiteral("快去注册账号吧，这样您就可以收藏资源啦 :)"));
        QCOMPARE(window->GetDlgItem(1033)->toolTip(), QStringLiteral("提交问题bug反馈"));
        for (int id : {1000, 1001, 1002, 1008, 1009, 1010, 1011, 1012, 1015, 1016, 1018})
            QVERIFY2(window->GetDlgItem(id)->toolTip().isEmpty(), qPrintable(QString::number(id)));

        QVERIFY(window->Tray()->IsAdded());
        window->OnCancel();
    }

    void maskCutsTheCorners()
    {
        auto window = MakeWindow();
        const QRegion mask = window->mask();
        for (QPoint cut : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(799, 0), QPoint(798, 0),
                           QPoint(799, 1), QPoint(0, 599), QPoint(0, 598), QPoint(1, 599),
                           QPoint(799, 599), QPoint(798, 599), QPoint(799, 598), QPoint(797, 599)})
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
        auto window = MakeWindow();
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
        auto window = MakeWindow();
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
        FileGuard guard(GetConfigPath());
        auto window = MakeWindow();
        auto* close = window->GetDlgItem(1002);

        QVERIFY(WriteIniString(GetConfigPath(), Ini::kSystem, Ini::kExit, QStringLiteral("1")));
        QTest::mouseClick(close, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!window->isVisible());
        QVERIFY(!window->IsEnded());
        QVERIFY(window->Tray()->IsAdded());

        // Back from the tray; the setting changed meanwhile and the next click ends at once.
        window->Tray()->ToggleVisibility();
        QVERIFY(window->isVisible());
        QVERIFY(WriteIniString(GetConfigPath(), Ini::kSystem, Ini::kExit, QStringLiteral("0")));
        QTest::mouseClick(close, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(window->IsEnded());
        QVERIFY(!window->Tray()->IsAdded());
        QVERIFY(MsgBox::TakeAnsweredTexts().isEmpty());
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
        FileGuard guard(GetConfigPath());
        if (!value.isNull())
            QVERIFY(WriteIniString(GetConfigPath(), Ini::kSystem, Ini::kExit, value));
        auto window = MakeWindow();
        QTest::mouseClick(window->GetDlgItem(1002), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(window->IsEnded());
    }

    void minimiseKeepsTheTrayIcon()
    {
        auto window = MakeWindow();
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
        auto window = MakeWindow();
        window->move(50, 40);
        const QPoint start = window->pos();
        QTest::mousePress(window.get(), Qt::LeftButton, {}, QPoint(200, 12));
        QMouseEvent move(QEvent::MouseMove, QPointF(230, 32), window->mapToGlobal(QPointF(230, 32)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(window.get(), &move);
        QTest::mouseRelease(window.get(), Qt::LeftButton, {}, QPoint(230, 32));
        QCOMPARE(window->pos(), start + QPoint(30, 20));

        // Below the strip the window stays put.
        const QPoint now = window->pos();
        QTest::mousePress(window.get(), Qt::LeftButton, {}, QPoint(200, 40));
        QMouseEvent lower(QEvent::MouseMove, QPointF(260, 80), window->mapToGlobal(QPointF(260, 80)),
                          Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(window.get(), &lower);
        QTest::mouseRelease(window.get(), Qt::LeftButton, {}, QPoint(260, 80));
        QCOMPARE(window->pos(), now);
        window->OnCancel();
    }

    void pageLoadsAndReloadsAfterLogin()
    {
        m_pages.paths.clear();
        auto window = MakeWindow();
        QSignalSpy loaded(window->BrowserView(), &QWebEngineView::loadFinished);
        QVERIFY(loaded.wait(30000));
        QCOMPARE(window->BrowserView()->url(),
                 QUrl(QStringLiteral("http://127.0.0.1:%1/CF20/CF_Index.aspx").arg(m_pages.Port())));
        QCOMPARE(m_pages.paths.count(QStringLiteral("/CF20/CF_Index.aspx")), 1);

        // The login worker posts its end; the page is fetched again.
        QMetaObject::invokeMethod(window.get(), "OnLoginDone", Qt::QueuedConnection);
        QVERIFY(loaded.wait(30000));
        QCOMPARE(m_pages.paths.count(QStringLiteral("/CF20/CF_Index.aspx")), 2);
        window->OnCancel();
    }

    void helpOpensTheForumThread()
    {
        m_opened.clear();
        auto window = MakeWindow();
        QTest::mouseClick(window->GetDlgItem(1033), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("http://forum.test:81/thread-5391013-1-1.html"))});
        window->OnCancel();
    }
};

YFZS_TEST_CLASS(MainWindowTest)
#include "mainwindow_test.moc"
