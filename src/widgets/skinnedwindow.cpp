#include "widgets/skinnedwindow.h"

#include "widgets/pngresource.h"
#include "widgets/widgetslog.h"

#include <QDialog>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QRegion>
#include <QWindow>

#include <atomic>
#include <future>

namespace widgets {

namespace {

// The client rectangle with its corners cut by 3 pixels at the top and 4 at the bottom.
QRegion cutCornerRegion(const QRect& rect)
{
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.left() + rect.width();
    const int b = rect.top() + rect.height();
    const QPolygon outline(
        {{l, t + 3}, {l + 3, t}, {r - 3, t}, {r, t + 3}, {r, b - 4}, {r - 4, b}, {l + 3, b}, {l, b - 4}});
    return QRegion(outline);
}

} // namespace

bool DrawSkin(QPainter& painter, int pngId)
{
    // Decoded for every paint on purpose: nothing of the skin stays in memory between paints.
    return DrawSkin(painter, LoadPngResource(pngId));
}

bool DrawSkin(QPainter& painter, const QImage& image)
{
    if (image.isNull())
        return false;
    // Maximised, a window is larger than its skin: the image and everything on it keep their
    // places, as an unlaid-out dialog's would, and the skin's edge colour fills the rest.
    const QRect area(0, 0, painter.device()->width(), painter.device()->height());
    const QSize size = image.deviceIndependentSize().toSize();
    if (area.width() > size.width() || area.height() > size.height())
        painter.fillRect(area, image.pixelColor(image.width() - 1, image.height() - 1));
    // A double-size skin on a screen at 150 % is scaled down; smoothly, or its lines break up.
    if (image.devicePixelRatio() != painter.device()->devicePixelRatio())
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QPoint(0, 0), image);
    return true;
}

// Sees the window's own events before the window does: the skin is painted under whatever the
// window paints, the outline follows every size change, and presses in the strip move it.
class SkinnedWindow::EventFilter : public QObject
{
public:
    EventFilter(QWidget* window, const Skin& skin)
        : m_window(window)
        , m_skin(skin)
    {
        window->installEventFilter(this);
        // The first paint's image is decoded on another core while the window is still being
        // built: decoding takes 5-15 ms, and on the main window's first paint that time would
        // hold up the page, whose engine shares this thread. Later paints decode their own.
        if (skin.backgroundPng > 0)
            m_firstSkin = std::async(std::launch::async, [id = skin.backgroundPng] {
                // In the painter's own format, so the draw is a copy rather than a conversion.
                return LoadPngResource(id).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            });
    }

    // The process's first text in `font` costs 10-15 ms of font matching and loading, on the
    // main window's first paint just when the page is loading. Drawing a sample on another core
    // first leaves the main thread a fraction of that. Once per process.
    void WarmUpFonts(const QFont& font)
    {
        static std::atomic_bool started = false;
        if (started.exchange(true))
            return;
        m_fontWarmUp = std::async(std::launch::async, [font] {
            QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&image);
            painter.setFont(font);
            painter.drawText(0, 12, QStringLiteral("QX77 云帆助手 账号密码 登录注册 0123456789"));
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window)
            return false;
        switch (event->type()) {
        case QEvent::Paint: {
            QPainter painter(m_window);
            // The corners are left transparent, not only cut from the input shape: Wayland and
            // compositing X servers (Xwayland among them) draw a window's whole rectangle and
            // ignore the shape, and showed black or square corners.
            if (m_skin.cutCorners && m_window->isWindow())
                painter.setClipRegion(cutCornerRegion(m_window->rect()));
            if (m_firstSkin.valid())
                DrawSkin(painter, m_firstSkin.get()); // and it is gone once drawn
            else
                DrawSkin(painter, m_skin.backgroundPng);
            return false;
        }
        case QEvent::Resize:
            if (m_skin.cutCorners) {
                m_window->setMask(cutCornerRegion(m_window->rect()));
                m_window->update();
            }
            return false;
        case QEvent::Hide:
            // Shown again, a window the user dragged would be placed anew by the window manager,
            // which only keeps a position the program has set itself: set the one it has now.
            // On the QWindow: the widget's move() sees no change and would not pass it on.
            if (m_window->isWindow() && !m_window->isMinimized() && m_window->windowHandle())
                m_window->windowHandle()->setPosition(m_window->pos());
            return false;
        case QEvent::MouseButtonPress:
            return OnPress(static_cast<QMouseEvent*>(event));
        case QEvent::MouseMove:
            return OnMove(static_cast<QMouseEvent*>(event));
        case QEvent::MouseButtonRelease:
            return OnRelease(static_cast<QMouseEvent*>(event));
        default:
            return false;
        }
    }

private:
    bool OnPress(QMouseEvent* event)
    {
        if (event->button() != Qt::LeftButton || event->position().y() >= m_skin.dragStrip)
            return false;
        // The window manager's own move where it offers one, as a caption would; otherwise
        // the window follows the mouse.
        event->accept();
        if (m_window->windowHandle() && m_window->windowHandle()->startSystemMove())
            return true;
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - m_window->frameGeometry().topLeft();
        return true;
    }

    bool OnMove(QMouseEvent* event)
    {
        if (!m_dragging || !(event->buttons() & Qt::LeftButton))
            return false;
        m_window->move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return true;
    }

    bool OnRelease(QMouseEvent* event)
    {
        if (!m_dragging || event->button() != Qt::LeftButton)
            return false;
        m_dragging = false;
        event->accept();
        return true;
    }

    QWidget* m_window;
    const Skin m_skin;
    std::future<QImage> m_firstSkin;
    std::future<void> m_fontWarmUp;
    bool m_dragging = false;
    QPoint m_dragOffset;
};

SkinnedWindow::SkinnedWindow(QWidget* window, const Skin& skin)
    : m_window(window)
    , m_filter(std::make_unique<EventFilter>(window, skin))
{
    if (skin.fontPixels > 0) {
        QFont font = window->font();
        font.setPixelSize(skin.fontPixels);
        window->setFont(font);
    }
    m_filter->WarmUpFonts(window->font());
    // An alpha channel for the cut corners; set before the native window exists, which takes
    // its visual from it.
    if (skin.cutCorners && window->isWindow())
        window->setAttribute(Qt::WA_TranslucentBackground);
    if (!skin.size.isEmpty())
        window->setFixedSize(skin.size);
    window->update();
}

// The filter goes with us, before the Qt part: what that part still does on its way out never
// reaches the filter.
SkinnedWindow::~SkinnedWindow() = default;

int SkinnedWindow::DoModal()
{
    if (auto* dialog = qobject_cast<QDialog*>(m_window))
        return dialog->exec();
    m_window->show();
    QEventLoop loop;
    m_loop = &loop;
    if (!m_ended)
        m_result = loop.exec();
    m_loop = nullptr;
    return m_result;
}

void SkinnedWindow::EndDialog(int result)
{
    m_ended = true;
    m_result = result;
    if (auto* dialog = qobject_cast<QDialog*>(m_window)) {
        dialog->done(result);
        return;
    }
    m_window->hide();
    if (m_loop)
        m_loop->exit(result);
}

bool SkinnedWindow::IsEnded() const
{
    return m_ended;
}

void SkinnedWindow::Register(int id, QWidget* control)
{
    if (m_controls.contains(id))
        qCCritical(lcWidgets) << "control id" << id << "filed twice in"
                              << m_window->metaObject()->className();
    m_controls.insert(id, control);
}

QWidget* SkinnedWindow::GetDlgItem(int id) const
{
    return m_controls.value(id);
}

void SkinnedWindow::ReportWrongControl(int id, const QWidget* found, const QMetaObject& wanted) const
{
    qCCritical(lcWidgets).nospace() << "control " << id << " of " << m_window->metaObject()->className()
                                    << " is " << (found ? found->metaObject()->className() : "missing")
                                    << ", not " << wanted.className();
}

} // namespace widgets
