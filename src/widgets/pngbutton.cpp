#include "widgets/pngbutton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace {
// The mouse must rest this long before the hover frame shows.
constexpr int kHoverDelayMs = 1;
} // namespace

PngButton::PngButton(QWidget* parent)
    : QPushButton(parent)
    , m_hoverTimer(new QTimer(this))
{
    m_hoverTimer->setSingleShot(true);
    m_hoverTimer->setInterval(kHoverDelayMs);
    connect(m_hoverTimer, &QTimer::timeout, this, &PngButton::OnHoverTimer);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setFlat(true);
    // Only the frame is drawn; whatever lies behind the button shows through its transparency.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

PngButton::~PngButton() = default;

void PngButton::SetImage(const QImage& image)
{
    m_image = image;
    if (image.isNull()) {
        m_frameWidth = 0;
        m_placement = geometry();
        update();
        return;
    }
    // In the size it takes on screen: a double-size image (device pixel ratio 2) places the
    // button exactly as the single-size one.
    const QSize size = image.deviceIndependentSize().toSize();
    m_frameWidth = size.width() / 4;
    m_placement = QRect(pos(), QSize(m_frameWidth, size.height()));
    setGeometry(m_placement);
    update();
}

QRect PngButton::Placement() const
{
    return m_placement;
}

int PngButton::FrameWidth() const
{
    return m_frameWidth;
}

int PngButton::CurrentFrame() const
{
    if (isDown())
        return 2;
    return m_hover ? 1 : 0;
}

void PngButton::paintEvent(QPaintEvent*)
{
    if (m_image.isNull() || m_frameWidth <= 0)
        return;
    QPainter painter(this);
    const qreal ratio = m_image.devicePixelRatio();
    if (ratio == 1.0) {
        const QRect source(CurrentFrame() * m_frameWidth, 0, m_frameWidth, m_image.height());
        painter.drawImage(QPoint(0, 0), m_image, source);
        return;
    }
    // The frame's pixels in the larger image, drawn into the button's own size; at 150 % the
    // image is scaled down, smoothly.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF source(CurrentFrame() * m_frameWidth * ratio, 0, m_frameWidth * ratio, m_image.height());
    painter.drawImage(QRectF(0, 0, m_frameWidth, m_image.height() / ratio), m_image, source);
}

void PngButton::enterEvent(QEnterEvent* event)
{
    if (!m_hover)
        m_hoverTimer->start();
    QPushButton::enterEvent(event);
}

void PngButton::mouseMoveEvent(QMouseEvent* event)
{
    // Each move restarts the wait: the hover frame comes once the mouse rests.
    if (!m_hover && rect().contains(event->position().toPoint()))
        m_hoverTimer->start();
    QPushButton::mouseMoveEvent(event);
}

void PngButton::OnHoverTimer()
{
    if (!underMouse())
        return;
    m_hover = true;
    update();
}

void PngButton::leaveEvent(QEvent* event)
{
    m_hoverTimer->stop();
    m_hover = false;
    update();
    QPushButton::leaveEvent(event);
}

void PngButton::mousePressEvent(QMouseEvent* event)
{
    update();
    QPushButton::mousePressEvent(event);
}

void PngButton::mouseReleaseEvent(QMouseEvent* event)
{
    update();
    QPushButton::mouseReleaseEvent(event);
}

void PngButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a quick pair arrives as a double-click; taken as a press, the release
    // that follows makes a second click.
    mousePressEvent(event);
}
