// Maximising the main window from the page under a real window manager (openbox on Xvfb, see
// run-under-wm): the window is of fixed size, as the program's is, and must still maximise.
#include "testrunner.h"

#include "pagefixture.h"
#include "pagehost/htmlctrl.h"

#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QWidget>

class MaximiseTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PageFixture> m_page;
    QLabel* m_label = nullptr;

    // Waits for the window manager's answer, then checks that it holds.
    void ExpectNormal()
    {
        QWidget* main = m_page->MainWindow();
        QTRY_COMPARE_WITH_TIMEOUT(main->size(), QSize(800, 600), 10000);
        QTest::qWait(300);
        QVERIFY(!main->isMaximized());
        QCOMPARE(main->size(), QSize(800, 600));
        // Fixed again, so the user cannot resize it.
        QCOMPARE(main->minimumSize(), QSize(800, 600));
        QCOMPARE(main->maximumSize(), QSize(800, 600));
    }

    void ExpectMaximised()
    {
        QWidget* main = m_page->MainWindow();
        const QSize screen = main->screen()->availableGeometry().size();
        QVERIFY(screen.width() > 800 && screen.height() > 600);
        QTRY_COMPARE_WITH_TIMEOUT(main->size(), screen, 10000);
        QTest::qWait(300);
        QVERIFY(main->isMaximized());
        QCOMPARE(main->size(), screen);
        // Controls and the page keep their places and sizes.
        QCOMPARE(m_page->View()->geometry(), QRect(2, 100, 796, 498));
        QCOMPARE(m_label->geometry(), QRect(586, 47, 121, 21));
        QCOMPARE(m_page->Eval(QStringLiteral("window.innerWidth + 'x' + window.innerHeight")).toString(),
                 QStringLiteral("796x498"));
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_page = std::make_unique<PageFixture>();
        QWidget* main = m_page->MainWindow();
        main->setFixedSize(800, 600);
        m_label = new QLabel(QStringLiteral("账号："), main);
        m_label->setGeometry(586, 47, 121, 21);
        m_label->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QVERIFY(m_page->LoadToolPage("/max.html", QStringLiteral("<html><body>page</body></html>")));
    }

    void cleanupTestCase() { m_page.reset(); }

    void maxOrNormalTogglesTwice()
    {
        ExpectNormal();
        m_page->Eval(QStringLiteral("external.MaxOrNormalWindow()"));
        ExpectMaximised();
        m_page->Eval(QStringLiteral("external.MaxOrNormalWindow()"));
        ExpectNormal();
        // Two calls in a row, without waiting for the window manager in between.
        m_page->Eval(QStringLiteral("external.MaxOrNormalWindow(); external.MaxOrNormalWindow()"));
        ExpectNormal();
    }

    void systemCommandsAndShowCommands()
    {
        const int handle = m_page->View()->GetMainWindow();
        m_page->Eval(QStringLiteral("external.SendMessage(%1, 0x112, 0xF030, 0)").arg(handle));
        ExpectMaximised();
        m_page->Eval(QStringLiteral("external.SendMessage(%1, 0x112, 0xF120, 0)").arg(handle));
        ExpectNormal();
        m_page->Eval(QStringLiteral("external.ShowWindow(%1, 3)").arg(handle));
        ExpectMaximised();
        m_page->Eval(QStringLiteral("external.ShowWindow(%1, 1)").arg(handle));
        ExpectNormal();
    }
};

YFZS_TEST_CLASS(MaximiseTest)
#include "maximise_wm_test.moc"
