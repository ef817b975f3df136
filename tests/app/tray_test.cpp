#include "app/mainwindow.h"
#include "app/tray.h"

#include "testrunner.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

namespace {

QStringList menuTexts(TrayIcon& tray)
{
    QStringList texts;
    for (QAction* action : tray.Menu()->actions())
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

} // namespace

class TrayTest : public QObject
{
    Q_OBJECT

private slots:
    void iconCarriesItsTip()
    {
        QWidget window;
        TrayIcon tray(&window);
        QCOMPARE(tray.ToolTip(), QStringLiteral("QX77云帆助手"));
        QVERIFY(!tray.IsAdded());
        tray.Add();
        QVERIFY(tray.IsAdded());
        tray.Remove();
        QVERIFY(!tray.IsAdded());
    }

    // One menu, handed to the desktop, whose first item says what a left click would do at
    // any moment: a desktop reading it over D-Bus does not announce when it opens it.
    void menuTextFollowsVisibility()
    {
        QWidget window;
        window.resize(100, 100);
        TrayIcon tray(&window);
        QCOMPARE(tray.findChild<QSystemTrayIcon*>()->contextMenu(), tray.Menu());
        QCOMPARE(menuTexts(tray),
                 (QStringList{QStringLiteral("显示窗口"), QStringLiteral("-"), QStringLiteral("关于"),
                              QStringLiteral("退出")}));
        QAction* toggle = tray.Menu()->actions().first();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(toggle->text(), QStringLiteral("隐藏窗口"));
        window.showMinimized();
        QTRY_COMPARE(toggle->text(), QStringLiteral("显示窗口"));
        window.showNormal();
        QTRY_COMPARE(toggle->text(), QStringLiteral("隐藏窗口"));
        window.hide();
        QCOMPARE(toggle->text(), QStringLiteral("显示窗口"));
    }

    // A click on the icon hides a shown window and brings back a hidden or minimised one; the
    // right button is the desktop's, which opens the menu itself. The item does what the click
    // does.
    void clickTogglesVisibility()
    {
        QWidget window;
        window.resize(100, 100);
        TrayIcon tray(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());

        tray.OnActivated(QSystemTrayIcon::Trigger);
        QVERIFY(window.isVisible());
        QTRY_VERIFY(!window.isMinimized());
        tray.OnActivated(QSystemTrayIcon::Trigger);
        QVERIFY(!window.isVisible());
        tray.OnActivated(QSystemTrayIcon::Trigger);
        QVERIFY(window.isVisible());

        for (auto other :
             {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Context})
            tray.OnActivated(other);
        QVERIFY(window.isVisible());
        QVERIFY(!QApplication::activePopupWidget());

        tray.Menu()->actions().first()->trigger();
        QVERIFY(!window.isVisible());
        tray.Menu()->actions().first()->trigger();
        QVERIFY(window.isVisible());
    }

    // About from the tray menu, and from the "?" button's menu for desktops without a tray.
    void aboutFromTrayAndHelpButton()
    {
        QWidget window;
        TrayIcon tray(&window);
        QSignalSpy about(&tray, &TrayIcon::AboutRequested);
        tray.Menu()->actions().at(2)->trigger();
        QCOMPARE(about.count(), 1);

        DEZIRUdu main;
        main.OnInitDialog();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QTest::mouseClick(main.GetDlgItem(DEZIRUdu::IdHelp), Qt::LeftButton, {}, QPoint(5, 5));
        QMenu* help = nullptr;
        QTRY_VERIFY((help = qobject_cast<QMenu*>(QApplication::activePopupWidget())));
        QStringList texts;
        for (QAction* action : help->actions())
            texts << action->text();
        QCOMPARE(texts, (QStringList{QStringLiteral("提交问题bug反馈"), QStringLiteral("关于")}));
        QString opened;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            opened = QString::fromLatin1(QApplication::activeModalWidget()->metaObject()->className());
            qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject();
        });
        help->actions().last()->trigger();
        QCOMPARE(opened, QStringLiteral("RAruzeVOVOzu"));
        main.OnCancel();
    }

    // Exit asks first; No leaves everything, Yes removes the icon and ends the main window.
    void exitAsksFirst()
    {
        DEZIRUdu window;
        window.OnInitDialog();
        window.show();
        TrayIcon* tray = window.Tray();
        QVERIFY(tray->IsAdded());
        // Both icons come from the one decoding done while the engine starts, every size of it.
        const QList<QSize> sizes = window.windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(256, 256)));
        QCOMPARE(tray->findChild<QSystemTrayIcon*>()->icon().availableSizes(), sizes);
        widgets::msgbox::TakeAnsweredTexts();

        widgets::msgbox::SetNextAnswer(widgets::msgbox::No);
        tray->Menu()->actions().last()->trigger();
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList{QStringLiteral("你确实要退出程序吗？")});
        QVERIFY(tray->IsAdded());
        QVERIFY(!window.IsEnded());
        QVERIFY(window.isVisible());

        widgets::msgbox::SetNextAnswer(widgets::msgbox::Yes);
        tray->OnExit();
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts().size(), 1);
        QVERIFY(!tray->IsAdded());
        QVERIFY(window.IsEnded());
        QVERIFY(!window.isVisible());
    }
};

YFZS_TEST_CLASS(TrayTest)
#include "tray_test.moc"
