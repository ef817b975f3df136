// Draws the program's skin: every PNG under res/png by numeric id, each once more at twice the
// size (<id>@2x.png, for screens scaled above 100 %), and the icon under res/icon.
// Usage: drawart <res folder>. Run through tools/drawart.sh, which builds it and sets the font.
// The look: a blue-grey game-tool skin, light glyphs on dark strips, captions in a CJK font.

#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <cmath>
#include <functional>
#include <vector>

namespace {

const QString kFontFamily = QStringLiteral("WenQuanYi Micro Hei");

// Palette shared by every image.
const QColor kStripTop(0x2c, 0x3e, 0x55);
const QColor kStripBottom(0x1d, 0x2b, 0x3d);
const QColor kBodyTop(0xdd, 0xe5, 0xee);
const QColor kBodyBottom(0xc4, 0xcf, 0xdb);
const QColor kEdge(0x13, 0x1d, 0x29);
const QColor kAccent(0x3d, 0x8b, 0xd9);
const QColor kAccentDark(0x24, 0x5f, 0x9e);
const QColor kGlyph(0xe8, 0xef, 0xf6);
const QColor kGrey(0x9a, 0xa3, 0xad);

enum Frame { Normal, Hover, Pressed, Greyed };

QFont captionFont(int pixelSize, bool bold = false)
{
    QFont font(kFontFamily);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// 1, or 2 while the double-size set is drawn: every drawing below is in the single-size
// image's pixels, and a painter on an image of device pixel ratio 2 draws it at twice the
// resolution, text and curves drawn afresh rather than enlarged.
int g_scale = 1;

QImage blank(int w, int h)
{
    QImage image(w * g_scale, h * g_scale, QImage::Format_ARGB32);
    image.setDevicePixelRatio(g_scale);
    image.fill(Qt::transparent);
    return image;
}

// A strip of four frames, each drawn by `draw` into a painter translated to its frame.
QImage strip(int frameW, int frameH, const std::function<void(QPainter&, Frame)>& draw)
{
    QImage image = blank(frameW * 4, frameH);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (int f = 0; f < 4; ++f) {
        p.save();
        p.setClipRect(f * frameW, 0, frameW, frameH);
        p.translate(f * frameW, 0);
        draw(p, static_cast<Frame>(f));
        p.restore();
    }
    return image;
}

// Brighter on hover, darker and one pixel down when pressed, grey when disabled.
QColor tint(const QColor& base, Frame frame)
{
    switch (frame) {
    case Hover:
        return base.lighter(125);
    case Pressed:
        return base.darker(125);
    case Greyed: {
        const int g = qGray(base.rgb());
        return QColor(g, g, g, base.alpha());
    }
    default:
        return base;
    }
}

// Title strip with a caption, as on the main window and both dialogs.
void drawTitleStrip(QPainter& p, int width, int height, const QString& caption, int fontSize)
{
    QLinearGradient g(0, 0, 0, height);
    g.setColorAt(0, kStripTop);
    g.setColorAt(1, kStripBottom);
    p.fillRect(0, 0, width, height, g);
    p.setPen(QColor(255, 255, 255, 40));
    p.drawLine(0, 0, width, 0);
    p.setPen(kAccent);
    p.drawLine(0, height - 1, width, height - 1);
    p.setPen(kGlyph);
    p.setFont(captionFont(fontSize, true));
    p.drawText(QRect(10, 0, width - 20, height), Qt::AlignLeft | Qt::AlignVCenter, caption);
}

void drawSail(QPainter& p, const QRectF& box, const QColor& sail, const QColor& hull)
{
    const qreal x = box.x(), y = box.y(), w = box.width(), h = box.height();
    QPainterPath main;
    main.moveTo(x + w * 0.50, y + h * 0.08);
    main.cubicTo(x + w * 0.78, y + h * 0.28, x + w * 0.84, y + h * 0.52, x + w * 0.80, y + h * 0.68);
    main.lineTo(x + w * 0.50, y + h * 0.68);
    main.closeSubpath();
    QPainterPath jib;
    jib.moveTo(x + w * 0.45, y + h * 0.20);
    jib.lineTo(x + w * 0.45, y + h * 0.68);
    jib.lineTo(x + w * 0.20, y + h * 0.68);
    jib.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(sail);
    p.drawPath(main);
    p.drawPath(jib);
    QPainterPath boat;
    boat.moveTo(x + w * 0.14, y + h * 0.74);
    boat.lineTo(x + w * 0.86, y + h * 0.74);
    boat.lineTo(x + w * 0.72, y + h * 0.88);
    boat.lineTo(x + w * 0.28, y + h * 0.88);
    boat.closeSubpath();
    p.setBrush(hull);
    p.drawPath(boat);
}

QImage mainBackground()
{
    const int w = 800, h = 600;
    QImage image = blank(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Frame colour shows as the 2-pixel border around the page area.
    p.fillRect(0, 0, w, h, kEdge);

    // Head: title strip (the drag area, 30 px) over a tool band down to the page at y 100.
    QLinearGradient head(0, 0, 0, 100);
    head.setColorAt(0, QColor(0x35, 0x4b, 0x66));
    head.setColorAt(0.3, QColor(0x2a, 0x3c, 0x53));
    head.setColorAt(1, QColor(0x1e, 0x2c, 0x3e));
    p.fillRect(0, 0, w, 100, head);

    // Faint diagonal hatching gives the tool band some texture.
    p.save();
    p.setClipRect(0, 30, w, 70);
    p.setPen(QPen(QColor(255, 255, 255, 10), 1));
    for (int x = -100; x < w; x += 6)
        p.drawLine(x, 100, x + 70, 30);
    p.restore();

    // A soft light behind the logo.
    QRadialGradient glow(120, 58, 160);
    glow.setColorAt(0, QColor(0x5d, 0xa4, 0xe8, 90));
    glow.setColorAt(1, QColor(0x5d, 0xa4, 0xe8, 0));
    p.fillRect(0, 0, 400, 100, glow);

    p.setPen(QColor(255, 255, 255, 50));
    p.drawLine(0, 0, w, 0);
    p.setPen(QColor(0x0f, 0x18, 0x23));
    p.drawLine(0, 30, w, 30);
    p.setPen(QColor(255, 255, 255, 22));
    p.drawLine(0, 31, w, 31);

    // Title strip: small sail and the title.
    drawSail(p, QRectF(8, 4, 22, 22), kGlyph, kAccent);
    p.setPen(kGlyph);
    p.setFont(captionFont(13, true));
    p.drawText(QRect(36, 0, 300, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("QX77 云帆助手"));

    // Logo of the tool band.
    drawSail(p, QRectF(22, 36, 58, 58), QColor(0xf4, 0xf8, 0xfc), kAccent);
    p.setPen(QColor(0xf4, 0xf8, 0xfc));
    p.setFont(captionFont(26, true));
    p.drawText(QRect(88, 38, 220, 36), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("云帆助手"));
    p.setPen(QColor(0x9f, 0xc4, 0xea));
    p.setFont(captionFont(12));
    p.drawText(QRect(90, 72, 220, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("穿越火线 · 资源与修复工具"));

    // Panel behind the three tool buttons.
    p.setPen(QPen(QColor(255, 255, 255, 26), 1));
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(QRectF(290.5, 34.5, 236, 59), 6, 6);

    // Panel behind the login area.
    p.setBrush(QColor(0xe6, 0xed, 0xf4, 235));
    p.setPen(QPen(QColor(0x0f, 0x18, 0x23), 1));
    p.drawRoundedRect(QRectF(538.5, 43.5, 258, 51), 5, 5);

    // The page area's own backdrop, shown until the page paints.
    QLinearGradient body(0, 100, 0, h);
    body.setColorAt(0, kBodyTop);
    body.setColorAt(1, kBodyBottom);
    p.fillRect(2, 100, 796, 498, body);
    return image;
}

// 13 × 13 glyph buttons of the title strip.
QImage glyphButton(const std::function<void(QPainter&, const QColor&)>& glyph)
{
    return strip(13, 13, [&](QPainter& p, Frame f) {
        if (f == Hover || f == Pressed) {
            p.setPen(Qt::NoPen);
            p.setBrush(f == Hover ? QColor(255, 255, 255, 60) : QColor(0, 0, 0, 90));
            p.drawRoundedRect(QRectF(0, 0, 13, 13), 3, 3);
        }
        if (f == Pressed)
            p.translate(0, 1);
        glyph(p, f == Greyed ? kGrey : f == Hover ? QColor(Qt::white) : kGlyph);
    });
}

QImage minimiseGlyph()
{
    return glyphButton([](QPainter& p, const QColor& c) { p.fillRect(QRectF(3, 8, 7, 2), c); });
}

QImage closeGlyph()
{
    return glyphButton([](QPainter& p, const QColor& c) {
        p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 3.5), QPointF(9.5, 9.5));
        p.drawLine(QPointF(9.5, 3.5), QPointF(3.5, 9.5));
    });
}

QImage helpGlyph()
{
    return glyphButton([](QPainter& p, const QColor& c) {
        p.setPen(c);
        p.setFont(captionFont(11, true));
        p.drawText(QRect(0, 0, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
    });
}

// 43 × 43 round buttons of the login area.
QImage roundButton(const QString& caption, const QColor& base)
{
    return strip(43, 43, [&](QPainter& p, Frame f) {
        const QColor c = tint(base, f);
        const qreal shift = f == Pressed ? 1 : 0;
        QRadialGradient g(21.5, 14 + shift, 30);
        g.setColorAt(0, c.lighter(140));
        g.setColorAt(1, c.darker(115));
        p.setPen(QPen(c.darker(170), 1));
        p.setBrush(g);
        p.drawEllipse(QRectF(1.5, 1.5 + shift, 40, 40));
        p.setPen(QPen(QColor(255, 255, 255, 70), 1));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4, 4 + shift, 35, 35), 30 * 16, 120 * 16);
        p.setPen(f == Greyed ? QColor(0xee, 0xee, 0xee) : QColor(Qt::white));
        p.setFont(captionFont(13, true));
        p.drawText(QRectF(0, shift, 43, 43), Qt::AlignCenter, caption);
    });
}

// Fills `path` with `c` shaded from light (top left) to dark, outlined darker still.
void fillShaded(QPainter& p, const QPainterPath& path, const QRectF& r, const QColor& c, int lighter,
                int darker)
{
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, c.lighter(lighter));
    g.setColorAt(1, c.darker(darker));
    p.setPen(QPen(c.darker(180), 1));
    p.setBrush(g);
    p.drawPath(path);
}

void drawShield(QPainter& p, const QRectF& r, const QColor& c)
{
    QPainterPath path;
    path.moveTo(r.center().x(), r.top());
    path.lineTo(r.right(), r.top() + r.height() * 0.18);
    path.cubicTo(r.right(), r.top() + r.height() * 0.62, r.center().x() + r.width() * 0.2, r.bottom() - 2,
                 r.center().x(), r.bottom());
    path.cubicTo(r.center().x() - r.width() * 0.2, r.bottom() - 2, r.left(), r.top() + r.height() * 0.62,
                 r.left(), r.top() + r.height() * 0.18);
    path.closeSubpath();
    fillShaded(p, path, r, c, 130, 130);
    // A check mark: repaired.
    p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath check;
    check.moveTo(r.left() + r.width() * 0.28, r.top() + r.height() * 0.50);
    check.lineTo(r.left() + r.width() * 0.45, r.top() + r.height() * 0.66);
    check.lineTo(r.left() + r.width() * 0.74, r.top() + r.height() * 0.34);
    p.setBrush(Qt::NoBrush);
    p.drawPath(check);
}

void drawTools(QPainter& p, const QRectF& r, const QColor& c)
{
    const QPointF center = r.center();
    // A gear ...
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double a = i * M_PI / teeth;
        const double rad = (i % 2 == 0) ? r.width() * 0.48 : r.width() * 0.38;
        const QPointF pt(center.x() + rad * std::cos(a), center.y() + rad * std::sin(a));
        if (i == 0)
            gear.moveTo(pt);
        else
            gear.lineTo(pt);
    }
    gear.closeSubpath();
    gear.addEllipse(center, r.width() * 0.16, r.width() * 0.16);
    gear.setFillRule(Qt::OddEvenFill);
    fillShaded(p, gear, r, c, 135, 125);
    // ... crossed by a wrench.
    p.save();
    p.translate(center);
    p.rotate(-45);
    p.setPen(QPen(QColor(0x33, 0x3a, 0x44), 1));
    p.setBrush(QColor(0xf2, 0xf4, 0xf6));
    p.drawRoundedRect(QRectF(-2.5, -r.height() * 0.18, 5, r.height() * 0.66), 2, 2);
    p.drawEllipse(QPointF(0, -r.height() * 0.26), 5, 5);
    p.setBrush(c.darker(150));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(-1.5, -r.height() * 0.34, 3, 5));
    p.restore();
}

void drawClock(QPainter& p, const QRectF& r, const QColor& c)
{
    QRadialGradient g(r.center() - QPointF(4, 4), r.width() * 0.6);
    g.setColorAt(0, c.lighter(140));
    g.setColorAt(1, c.darker(120));
    p.setPen(QPen(c.darker(180), 1));
    p.setBrush(g);
    p.drawEllipse(r);
    p.setBrush(QColor(0xfa, 0xfc, 0xfe));
    p.setPen(Qt::NoPen);
    p.drawEllipse(r.adjusted(3.5, 3.5, -3.5, -3.5));
    p.setPen(QPen(QColor(0x30, 0x3c, 0x4a), 1));
    for (int i = 0; i < 12; ++i) {
        const double a = i * M_PI / 6;
        const QPointF o(std::cos(a), std::sin(a));
        const qreal rad = r.width() / 2 - 5;
        p.drawLine(r.center() + o * rad, r.center() + o * (rad - (i % 3 == 0 ? 3 : 1.5)));
    }
    p.setPen(QPen(QColor(0x30, 0x3c, 0x4a), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.center(), r.center() + QPointF(0, -r.height() * 0.28));
    p.setPen(QPen(QColor(0xd9, 0x48, 0x3b), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.center(), r.center() + QPointF(r.width() * 0.22, r.height() * 0.08));
}

// 60 × 55 tool buttons: an icon over a four-character caption.
QImage toolButton(const QString& caption, const QColor& iconColour,
                  void (*icon)(QPainter&, const QRectF&, const QColor&))
{
    return strip(60, 55, [&](QPainter& p, Frame f) {
        if (f == Hover || f == Pressed) {
            QLinearGradient g(0, 0, 0, 55);
            g.setColorAt(0, f == Hover ? QColor(255, 255, 255, 70) : QColor(0, 0, 0, 70));
            g.setColorAt(1, f == Hover ? QColor(255, 255, 255, 25) : QColor(0, 0, 0, 110));
            p.setPen(QPen(f == Hover ? QColor(255, 255, 255, 110) : QColor(0, 0, 0, 140), 1));
            p.setBrush(g);
            p.drawRoundedRect(QRectF(0.5, 0.5, 59, 54), 5, 5);
        }
        const qreal shift = f == Pressed ? 1 : 0;
        icon(p, QRectF(17, 4 + shift, 26, 28), f == Greyed ? kGrey : iconColour);
        p.setPen(f == Greyed ? kGrey : kGlyph);
        p.setFont(captionFont(12));
        p.drawText(QRectF(0, 35 + shift, 60, 17), Qt::AlignHCenter | Qt::AlignVCenter, caption);
    });
}

// 49 × 20 dialog buttons.
QImage dialogButton(const QString& caption, const QColor& base)
{
    return strip(49, 20, [&](QPainter& p, Frame f) {
        const QColor c = tint(base, f);
        QLinearGradient g(0, 0, 0, 20);
        g.setColorAt(0, c.lighter(125));
        g.setColorAt(1, c.darker(110));
        p.setPen(QPen(c.darker(160), 1));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(0.5, 0.5, 48, 19), 4, 4);
        p.setPen(f == Greyed ? QColor(0xf0, 0xf0, 0xf0) : QColor(Qt::white));
        p.setFont(captionFont(12));
        p.drawText(QRectF(0, f == Pressed ? 1 : 0, 49, 20), Qt::AlignCenter, caption);
    });
}

QImage dialogBackground(int w, int h, const QString& title)
{
    QImage image = blank(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient body(0, 0, 0, h);
    body.setColorAt(0, QColor(0xe4, 0xe8, 0xed));
    body.setColorAt(1, QColor(0xcf, 0xd5, 0xdc));
    p.fillRect(0, 0, w, h, body);
    drawTitleStrip(p, w, 28, QString(), 14);
    drawSail(p, QRectF(6, 3, 22, 22), kGlyph, kAccent);
    p.setPen(kGlyph);
    p.setFont(captionFont(14, true));
    p.drawText(QRect(32, 0, w - 60, 28), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setPen(kEdge);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, w - 1, h - 1));
    return image;
}

QImage programIcon(int size)
{
    QImage image = blank(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, QColor(0x4a, 0x9a, 0xe6));
    g.setColorAt(1, QColor(0x1d, 0x3f, 0x6b));
    p.setPen(QPen(QColor(0x12, 0x26, 0x40), std::max(1.0, s / 32)));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
    drawSail(p, QRectF(s * 0.12, s * 0.10, s * 0.76, s * 0.80), QColor(0xfa, 0xfc, 0xff),
             QColor(0xf2, 0xb1, 0x3a));
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: drawart <res folder>\n";
        return 2;
    }
    if (!QFontDatabase::families().contains(kFontFamily)) {
        err << "font not found: " << kFontFamily << " (install fonts-wqy-microhei)\n";
        return 1;
    }
    const QDir res(QString::fromLocal8Bit(argv[1]));
    res.mkpath(QStringLiteral("png"));
    res.mkpath(QStringLiteral("icon"));

    const QColor loginBlue = kAccentDark;
    const QColor registerOrange(0xe0, 0x86, 0x2a);
    const QColor logoutGrey(0x6b, 0x7a, 0x8c);

    struct Entry
    {
        int id;
        QImage image;
    };
    auto drawSkin = [&] {
        return std::vector<Entry>{
            {176, mainBackground()},
            {177, minimiseGlyph()},
            {178, roundButton(QStringLiteral("登录"), loginBlue)},
            {179, roundButton(QStringLiteral("注销"), logoutGrey)},
            {180, roundButton(QStringLiteral("注册"), registerOrange)},
            {181, toolButton(QStringLiteral("游戏修复"), QColor(0x3f, 0xb3, 0x6b), drawShield)},
            {182, toolButton(QStringLiteral("软件设置"), QColor(0x8a, 0x9b, 0xb0), drawTools)},
            {183, toolButton(QStringLiteral("检查更新"), QColor(0x3d, 0x8b, 0xd9), drawClock)},
            {184, closeGlyph()},
            {186, dialogButton(QStringLiteral("取消"), QColor(0x6b, 0x7a, 0x8c))},
            {187, dialogBackground(423, 390, QStringLiteral("设置"))},
            {188, dialogButton(QStringLiteral("确定"), kAccentDark)},
            {189, helpGlyph()},
            {190, dialogBackground(350, 150, QStringLiteral("关于"))},
        };
    };
    int failures = 0;
    for (int scale : {1, 2}) {
        g_scale = scale;
        const QString suffix = scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale);
        for (const Entry& entry : drawSkin()) {
            const QString path = res.filePath(QStringLiteral("png/%1%2.png").arg(entry.id).arg(suffix));
            if (!entry.image.save(path, "PNG")) {
                err << "cannot write " << path << '\n';
                ++failures;
            }
        }
    }
    g_scale = 1; // the icon has a file per size of its own
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = res.filePath(QStringLiteral("icon/160-%1.png").arg(size));
        if (!programIcon(size).save(path, "PNG")) {
            err << "cannot write " << path << '\n';
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
