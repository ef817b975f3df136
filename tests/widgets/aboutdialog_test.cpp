#include "testenv.h"
#include "testrunner.h"

#include "widgets/aboutdialog.h"

#include <QAbstractButton>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTest>

#include <memory>

class AboutDialogTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RAruzeVOVOzu> open()
    {
        auto dialog = std::make_unique<RAruzeVOVOzu>();
        dialog->show();
        return dialog;
    }

private slots:
    void sizeTextAndColour()
    {
        EnvGuard env;
        env.Set("QX77_FORUM_URL", "http://127.0.0.1:9999");
        auto dialog = open();

        QCOMPARE(dialog->size(), QSize(350, 150));
        auto* text = qobject_cast<QLabel*>(dialog->GetDlgItem(1005));
        QVERIFY(text);
        const QStringList lines = text->text().split(u'\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], u"http://127.0.0.1:9999"_qs);
        QVERIFY(lines[1].contains(u"版本"_qs));
        QVERIFY(lines[2].contains(u"版权所有"_qs));
        QCOMPARE(dialog->GetDlgItem(1037)->geometry(), QRect(330, 10, 20, 20));

        // The text stands in dark blue straight on the skin.
        const QImage shot = dialog->grab().toImage();
        const QRect area = text->geometry();
        int blue = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x)
                blue += shot.pixelColor(x, y) == QColor(14, 78, 129) ? 1 : 0;
        }
        QVERIFY2(blue > 20, qPrintable(QString::number(blue)));
        QCOMPARE(shot.pixelColor(area.right(), area.bottom()),
                 QImage(u":/png/190.png"_qs).pixelColor(area.bottomRight()));

        const QByteArray shots = qgetenv("YFZS_SCREENSHOT_DIR");
        if (!shots.isEmpty())
            QVERIFY(open()->grab().save(QFile::decodeName(shots) + u"/aboutdialog.png"_qs));
    }

    void closedByButtonsEscAndEnter()
    {
        auto dialog = open();
        qobject_cast<QAbstractButton*>(dialog->GetDlgItem(1))->click();
        QVERIFY(!dialog->isVisible());
        dialog = open();
        qobject_cast<QAbstractButton*>(dialog->GetDlgItem(1037))->click();
        QVERIFY(!dialog->isVisible());
        dialog = open();
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        dialog = open();
        QTest::keyClick(dialog.get(), Qt::Key_Enter);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }
};

YFZS_TEST_CLASS(AboutDialogTest)
#include "aboutdialog_test.moc"
