#include "skinnedbackground.h"
#include "pngresource.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>

bool DrawSkin(QPainter& painter, int pngId)
{
    // Decoded for every paint on purpose: nothing of the skin stays in memory between paints.
    const QImage image = LoadPngResource(pngId);
    if (image.isNull())
        return false;
    painter.drawImage(QPoint(0, 0), image);
    return true;
}

SkinnedBackground* SkinnedBackground::Install(QWidget* widget, int pngId)
{
    return new SkinnedBackground(widget, pngId);
}

SkinnedBackground::SkinnedBackground(QWidget* widget, int pngId)
    : QObject(widget)
    , m_pngId(pngId)
{
    widget->installEventFilter(this);
    widget->update();
}

int SkinnedBackground::PngId() const
{
    return m_pngId;
}

bool SkinnedBackground::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint && watched == parent()) {
        // Painted before the widget's own paintEvent, so anything it draws lands on the skin.
        QPainter painter(static_cast<QWidget*>(watched));
        DrawSkin(painter, m_pngId);
    }
    return QObject::eventFilter(watched, event);
}
