#include "mainwindow.h"
#include "tray.h"

#include "messagebox.h"
#include "testrunner.h"

#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

QStringList menuTexts(TrayIcon& tray)
{
    std::unique_ptr<QMenu> menu(tray.BuildMenu());
    QStringList texts;
    for (QAction* action : menu->actions())
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

    // The first item names what it will do, decided when the menu opens.
    void menuTextFollowsVisibility()
    {
        QWidget window;
        window.resize(100, 100);
        TrayIcon tray(&window);
        QCOMPARE(menuTexts(tray),
                 (QStringList{QStringLiteral("显示窗口"), QStringLiteral("-"), QStringLiteral("关于"),
                              QStringLiteral("退出")}));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(menuTexts(tray).first(), QStringLiteral("隐藏窗口"));
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());
        QCOMPARE(menuTexts(tray).first(), QStringLiteral("隐藏窗口"));
        window.hide();
        QCOMPARE(menuTexts(tray).first(), QStringLiteral("显示窗口"));
    }

    // A minimised window counts as visible: the first click hides it, the second shows it
    // restored. The menu item does the same as the click.
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
        QVERIFY(!window.isVisible());
        tray.OnActivated(QSystemTrayIcon::Trigger);
        QVERIFY(window.isVisible());
        QTRY_VERIFY(!window.isMinimized());

        // Other clicks do nothing.
        tray.OnActivated(QSystemTrayIcon::DoubleClick);
        tray.OnActivated(QSystemTrayIcon::MiddleClick);
        QVERIFY(window.isVisible());

        std::unique_ptr<QMenu> menu(tray.BuildMenu());
        menu->actions().first()->trigger();
        QVERIFY(!window.isVisible());
        std::unique_ptr<QMenu> again(tray.BuildMenu());
        again->actions().first()->trigger();
        QVERIFY(window.isVisible());
    }

    void aboutItemAsksForTheDialog()
    {
        QWidget window;
        TrayIcon tray(&window);
        QSignalSpy about(&tray, &TrayIcon::AboutRequested);
        std::unique_ptr<QMenu> menu(tray.BuildMenu());
        menu->actions().at(2)->trigger();
        QCOMPARE(about.count(), 1);
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
        std::unique_ptr<QMenu> menu(tray->BuildMenu());
        menu->actions().last()->trigger();
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
