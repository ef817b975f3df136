#include "testrunner.h"

#include "widgets/pngbutton.h"
#include "widgets/settingsdialog.h"
#include "widgets/skinnedwindow.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

// A dialog that is nothing but the base, for the parts the real dialogs do not show.
class BareDialog : public QDialog, public widgets::SkinnedWindow
{
public:
    explicit BareDialog(const Skin& skin)
        : widgets::SkinnedWindow(this, skin)
    {
    }
};

void expectCritical(const char* pattern)
{
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QString::fromLatin1(pattern)));
}

} // namespace

class SkinnedWindowTest : public QObject
{
    Q_OBJECT

private slots:
    // A control asked for as the wrong type, an unknown id and a control that has gone all
    // give null with a message, never a pointer of the wrong type.
    void controlsAreCheckedAgainstTheirType()
    {
        QWidget window;
        widgets::SkinnedWindow skin(&window, {});
        auto* edit = skin.AddControl(1, new QLineEdit(&window));
        auto* button = skin.AddControl(2, new PngButton(&window));
        QCOMPARE(skin.Control<QLineEdit>(1), edit);
        QCOMPARE(skin.Control<QAbstractButton>(2), button);
        QCOMPARE(skin.GetDlgItem(2), button);

        expectCritical("control 2 of QWidget is PngButton, not QLineEdit");
        QVERIFY(!skin.Control<QLineEdit>(2));
        expectCritical("control 3 of QWidget is missing, not QLabel");
        QVERIFY(!skin.Control<QLabel>(3));

        delete edit;
        QVERIFY(!skin.GetDlgItem(1));
        expectCritical("control id 2 filed twice");
        skin.AddControl(2, new QLabel(&window));
        QVERIFY(skin.Control<QLabel>(2));

        // The real dialogs file their controls the same way.
        CDialogSet settings(nullptr, QStringLiteral("/nonexistent/config.ini"));
        QVERIFY(settings.Control<PngButton>(CDialogSet::kOk));
        expectCritical("control 1025 of CDialogSet is QLineEdit, not QAbstractButton");
        QVERIFY(!settings.Control<QAbstractButton>(CDialogSet::kOfficialFolder));
    }

    // Only what a skin asks for is applied: the about dialog must neither move nor lose its
    // corners, and the main window keeps its inherited font.
    void onlyTheAskedForPartsApply()
    {
        BareDialog plain({.size = {200, 100}});
        const int inherited = plain.font().pixelSize();
        plain.show();
        QCOMPARE(plain.size(), QSize(200, 100));
        QVERIFY(plain.mask().isEmpty());
        QCOMPARE(plain.font().pixelSize(), inherited);
        const QPoint start = plain.pos();
        QTest::mousePress(&plain, Qt::LeftButton, {}, QPoint(50, 2));
        QMouseEvent move(QEvent::MouseMove, QPointF(90, 40), plain.mapToGlobal(QPointF(90, 40)), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(&plain, &move);
        QTest::mouseRelease(&plain, Qt::LeftButton, {}, QPoint(90, 40));
        QCOMPARE(plain.pos(), start);

        BareDialog skinned({.size = {200, 100}, .cutCorners = true, .dragStrip = 10, .fontPixels = 12});
        skinned.show();
        QCOMPARE(skinned.font().pixelSize(), 12);
        QVERIFY(!skinned.mask().contains(QPoint(0, 0)));
        QVERIFY(skinned.mask().contains(QPoint(100, 50)));
    }

    // A run ends with EndDialog's result, also when it came before the run started; a dialog
    // ends through its own loop.
    void runsEndWithTheirResult()
    {
        QWidget window;
        widgets::SkinnedWindow plain(&window, {});
        QTimer::singleShot(0, &window, [&] { plain.EndDialog(3); });
        QCOMPARE(plain.DoModal(), 3);
        QVERIFY(plain.IsEnded());
        QVERIFY(!window.isVisible());
        QCOMPARE(plain.DoModal(), 3); // ended before the run: returns at once

        BareDialog dialog({});
        QTimer::singleShot(0, &dialog, [&] { dialog.EndDialog(7); });
        QCOMPARE(dialog.DoModal(), 7);
        QVERIFY(!dialog.isVisible());
    }
};

YFZS_TEST_CLASS(SkinnedWindowTest)
#include "skinnedwindow_test.moc"
