// Maximising the main window from the page under a real window manager (openbox on Xvfb, see
// run-under-wm): the window is of fixed size, as the program's is, and must still maximise.
#include "testrunner.h"

#include "htmlctrl.h"
#include "pagefixture.h"

#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QWidget>

class MaximiseTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PageFixture> f;
    QLabel* label = nullptr;

    // Waits for the window manager's answer, then checks that it holds.
    void ExpectNormal()
    {
        QWidget* main = f->MainWindow();
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
        QWidget* main = f->MainWindow();
        const QSize screen = main->screen()->availableGeometry().size();
        QVERIFY(screen.width() > 800 && screen.height() > 600);
        QTRY_COMPARE_WITH_TIMEOUT(main->size(), screen, 10000);
        QTest::qWait(300);
        QVERIFY(main->isMaximized());
        QCOMPARE(main->size(), screen);
        // Controls and the page keep their places and sizes.
        QCOMPARE(f->View()->geometry(), QRect(2, 100, 796, 498));
        QCOMPARE(label->geometry(), QRect(586, 47, 121, 21));
        QCOMPARE(f->Eval(QStringLiteral("window.innerWidth + 'x' + window.innerHeight")).toString(),
                 QStringLiteral("796x498"));
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        f = std::make_unique<PageFixture>();
        QWidget* main = f->MainWindow();
        main->setFixedSize(800, 600);
        label = new QLabel(QStringLiteral("账号："), main);
        label->setGeometry(586, 47, 121, 21);
        label->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        QVERIFY(f->LoadToolPage("/max.html", QStringLiteral("<html><body>page</body></html>")));
    }

    void cleanupTestCase() { f.reset(); }

    void maxOrNormalTogglesTwice()
    {
        ExpectNormal();
        f->Eval(QStringLiteral("external.MaxOrNormalWindow()"));
        ExpectMaximised();
        f->Eval(QStringLiteral("external.MaxOrNormalWindow()"));
        ExpectNormal();
        // Two calls in a row, without waiting for the window manager in between.
        f->Eval(QStringLiteral("external.MaxOrNormalWindow(); external.MaxOrNormalWindow()"));
        ExpectNormal();
    }

    void systemCommandsAndShowCommands()
    {
        const int handle = int(quint32(f->MainWindow()->winId()));
        f->Eval(QStringLiteral("external.SendMessage(%1, 0x112, 0xF030, 0)").arg(handle));
        ExpectMaximised();
        f->Eval(QStringLiteral("external.SendMessage(%1, 0x112, 0xF120, 0)").arg(handle));
        ExpectNormal();
        f->Eval(QStringLiteral("external.ShowWindow(%1, 3)").arg(handle));
        ExpectMaximised();
        f->Eval(QStringLiteral("external.ShowWindow(%1, 1)").arg(handle));
        ExpectNormal();
    }
};

YFZS_TEST_CLASS(MaximiseTest)
#include "maximise_wm_test.moc"
