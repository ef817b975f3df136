#include "testrunner.h"
#include "widgets/pngbutton.h"
#include "widgets/pngresource.h"
#include "widgets/skinnedwindow.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

namespace {

QImage argb(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Largest per-channel difference; painting may round premultiplied values by one.
int difference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 256;
    const QImage x = argb(a), y = argb(b);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    }
    return worst;
}

QImage frameOf(const QImage& strip, int frame)
{
    const int w = strip.width() / 4;
    return strip.copy(frame * w, 0, w, strip.height());
}

QImage grabbed(QWidget* widget)
{
    return widget->grab().toImage();
}

// The frames of one strip must differ, or a frame comparison proves nothing.
bool framesDistinct(const QImage& strip)
{
    return difference(frameOf(strip, 0), frameOf(strip, 1)) > 8
        && difference(frameOf(strip, 1), frameOf(strip, 2)) > 8
        && difference(frameOf(strip, 0), frameOf(strip, 2)) > 8;
}

} // namespace

class PngButtonTest : public QObject
{
    Q_OBJECT

private slots:
    // Every image the windows use exists with the size, frame layout and alpha they rely on.
    void imagesHaveTheirSizes_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("strip");
        QTest::newRow("176 main skin") << 176 << QSize(800, 600) << false;
        QTest::newRow("177 minimise") << 177 << QSize(52, 13) << true;
        QTest::newRow("178 log in") << 178 << QSize(172, 43) << true;
        QTest::newRow("179 log out") << 179 << QSize(172, 43) << true;
        QTest::newRow("180 register") << 180 << QSize(172, 43) << true;
        QTest::newRow("181 repair") << 181 << QSize(240, 55) << true;
        QTest::newRow("182 settings") << 182 << QSize(240, 55) << true;
        QTest::newRow("183 update") << 183 << QSize(240, 55) << true;
        QTest::newRow("184 close") << 184 << QSize(52, 13) << true;
        QTest::newRow("186 cancel") << 186 << QSize(196, 20) << true;
        QTest::newRow("187 settings skin") << 187 << QSize(423, 390) << false;
        QTest::newRow("188 ok") << 188 << QSize(196, 20) << true;
        QTest::newRow("189 help") << 189 << QSize(52, 13) << true;
        QTest::newRow("190 about skin") << 190 << QSize(350, 150) << false;
    }

    void imagesHaveTheirSizes()
    {
        QFETCH(int, id);
        QFETCH(QSize, size);
        QFETCH(bool, strip);
        const QImage image = LoadPngResource(id);
        QVERIFY2(!image.isNull(), qPrintable(QStringLiteral("image %1 missing").arg(id)));
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
        // Drawn again at exactly twice the size for scaled screens.
        const QImage sharp(QStringLiteral(":/png/%1@2x.png").arg(id));
        QCOMPARE(sharp.size(), size * 2);
        QVERIFY(sharp.hasAlphaChannel());
        if (strip) {
            QVERIFY(framesDistinct(image));
            // Transparent somewhere, so the parent's skin shows through.
            const QImage normal = argb(frameOf(image, 0));
            bool anyTransparent = false;
            for (int y = 0; y < normal.height() && !anyTransparent; ++y)
                for (int x = 0; x < normal.width() && !anyTransparent; ++x)
                    anyTransparent = qAlpha(normal.pixel(x, y)) < 255;
            QVERIFY(anyTransparent);
        }
    }

    // At skin scale 2 the double-size images load with device pixel ratio 2 and everything
    // keeps the size and place it has at scale 1; back at 1 the images are the single ones.
    void doubleSizeSkinKeepsEveryPlace()
    {
        widgets::SetSkinScale(2);
        const QImage sharp = LoadPngResource(181);
        QCOMPARE(sharp.devicePixelRatio(), 2.0);
        QCOMPARE(sharp.deviceIndependentSize(), QSizeF(240, 55));
        QWidget parent;
        PngButton button(&parent);
        button.move(298, 36);
        button.SetImage(sharp);
        QCOMPARE(button.Placement(), QRect(298, 36, 60, 55));
        QCOMPARE(button.FrameWidth(), 60);
        // Drawn at scale 1 it is the single-size frame, give or take the smoothing.
        QImage shot(60, 55, QImage::Format_ARGB32_Premultiplied);
        shot.fill(Qt::transparent);
        button.render(&shot);
        widgets::SetSkinScale(1);
        const QImage single = LoadPngResource(181);
        QCOMPARE(single.devicePixelRatio(), 1.0);
        QCOMPARE(single.size(), QSize(240, 55));
        int close = 0;
        const QImage frame = argb(frameOf(single, 0));
        for (int y = 0; y < 55; ++y)
            for (int x = 0; x < 60; ++x)
                close += std::abs(qAlpha(shot.pixel(x, y)) - qAlpha(frame.pixel(x, y))) < 64;
        QVERIFY2(close > 60 * 55 * 9 / 10, qPrintable(QString::number(close)));
    }

    void missingImagesAreNull()
    {
        QVERIFY(LoadPngResource(185).isNull());
        QVERIFY(LoadPngResource(-1).isNull());
        QVERIFY(LoadPngResource(160).isNull()); // the icon is not a PNG resource
        const QIcon icon = widgets::LoadIconResource(160);
        QVERIFY(!icon.isNull());
        QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
        QVERIFY(widgets::LoadIconResource(161).isNull());
    }

    // The button takes one frame's size at its own top-left corner.
    void setImageSizesToOneFrame()
    {
        QWidget parent;
        parent.resize(300, 200);
        PngButton button(&parent);
        button.setGeometry(35, 40, 100, 100);
        button.SetImage(LoadPngResource(181));
        QCOMPARE(button.geometry(), QRect(35, 40, 60, 55));
        QCOMPARE(button.Placement(), QRect(35, 40, 60, 55));
        QCOMPARE(button.FrameWidth(), 60);

        // Strips whose width is not a multiple of four drop the rest.
        QImage odd(43, 10, QImage::Format_ARGB32);
        odd.fill(Qt::red);
        button.SetImage(odd);
        QCOMPARE(button.size(), QSize(10, 10));

        // No image: nothing to size by, the button keeps its place and draws nothing.
        button.setGeometry(5, 6, 20, 20);
        button.SetImage(QImage());
        QCOMPARE(button.geometry(), QRect(5, 6, 20, 20));
        QImage empty(20, 20, QImage::Format_ARGB32_Premultiplied);
        empty.fill(Qt::transparent);
        QCOMPARE(difference(grabbed(&button), empty), 0);
    }

    // Normal, hover after the mouse rests, pressed while held, normal again after leaving.
    void drawsTheFrameOfItsState()
    {
        const QImage strip = LoadPngResource(182);
        QWidget parent;
        parent.resize(200, 120);
        PngButton button(&parent);
        button.move(20, 20);
        button.SetImage(strip);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));

        QTest::mouseMove(&parent, QPoint(190, 110));
        QTRY_COMPARE(button.CurrentFrame(), 0);
        QCOMPARE(difference(grabbed(&button), frameOf(strip, 0)), 0);

        QTest::mouseMove(&button, QPoint(30, 30));
        QTRY_COMPARE(button.CurrentFrame(), 1);
        QVERIFY(difference(grabbed(&button), frameOf(strip, 1)) <= 1);

        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(30, 30));
        QCOMPARE(button.CurrentFrame(), 2);
        QVERIFY(difference(grabbed(&button), frameOf(strip, 2)) <= 1);
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(30, 30));
        QCOMPARE(button.CurrentFrame(), 1);

        QTest::mouseMove(&parent, QPoint(190, 110));
        QTRY_COMPARE(button.CurrentFrame(), 0);
        QVERIFY(difference(grabbed(&button), frameOf(strip, 0)) <= 1);
    }

    void doubleClickGivesTwoClicks()
    {
        QWidget parent;
        parent.resize(200, 120);
        PngButton button(&parent);
        button.SetImage(LoadPngResource(178));
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QSignalSpy clicks(&button, &QAbstractButton::clicked);
        // Through the window, as the platform delivers it: press, release, double-click, release.
        QTest::mouseDClick(parent.windowHandle(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(clicks.count(), 2);

        // A press released outside the button is no click.
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(150, 100));
        QCOMPARE(clicks.count(), 2);
    }

    // Nothing is painted behind the frame: the parent's skin shows in the transparent parts,
    // and a small glyph moved into a larger box sits in the box's top-left corner.
    void parentShowsThroughTransparency()
    {
        const QImage strip = LoadPngResource(184);
        QWidget parent;
        parent.resize(60, 60);
        parent.setAutoFillBackground(true);
        QPalette palette = parent.palette();
        palette.setColor(QPalette::Window, QColor(255, 0, 255));
        parent.setPalette(palette);
        PngButton button(&parent);
        button.SetImage(strip);
        button.setGeometry(10, 10, 20, 20);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));

        const QImage shot = argb(grabbed(&parent));
        const QImage normal = argb(frameOf(strip, 0));
        // Inside the 13 × 13 frame: the frame blended over magenta.
        for (int y = 0; y < 13; ++y) {
            for (int x = 0; x < 13; ++x) {
                const QRgb src = normal.pixel(x, y);
                const QRgb got = shot.pixel(10 + x, 10 + y);
                if (qAlpha(src) == 0)
                    QCOMPARE(got, qRgb(255, 0, 255));
                else if (qAlpha(src) == 255)
                    QVERIFY(std::abs(qRed(got) - qRed(src)) <= 1 && std::abs(qGreen(got) - qGreen(src)) <= 1);
            }
        }
        // The rest of the 20 × 20 box shows the parent.
        QCOMPARE(shot.pixel(10 + 19, 10 + 19), qRgb(255, 0, 255));
        QCOMPARE(shot.pixel(10 + 15, 10 + 2), qRgb(255, 0, 255));
    }

    void skinnedBackgroundPaintsItsImage()
    {
        QWidget dialog;
        dialog.resize(423, 390);
        widgets::SkinnedWindow skin(&dialog, {.backgroundPng = 187});
        QVERIFY(difference(grabbed(&dialog), LoadPngResource(187)) <= 1);

        // A missing image leaves the area as it was, without failing.
        QWidget other;
        other.resize(50, 50);
        other.setAutoFillBackground(true);
        QPalette palette = other.palette();
        palette.setColor(QPalette::Window, Qt::green);
        other.setPalette(palette);
        widgets::SkinnedWindow missing(&other, {.backgroundPng = 185});
        QCOMPARE(argb(grabbed(&other)).pixel(25, 25), qRgb(0, 255, 0));

        QImage target(10, 10, QImage::Format_ARGB32);
        target.fill(Qt::blue);
        QPainter painter(&target);
        QVERIFY(!widgets::DrawSkin(painter, 185));
        QVERIFY(widgets::DrawSkin(painter, 190));
    }
};

YFZS_TEST_CLASS(PngButtonTest)
#include "pngbutton_test.moc"
