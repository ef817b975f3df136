#pragma once
// Skinned backgrounds: a window's whole background is one PNG by id, drawn unscaled at (0, 0)
// on every paint. The image is decoded anew each time; a missing image leaves the area unpainted.

#include <QObject>

class QPainter;
class QWidget;

// Draws image `pngId` at (0, 0) at its own size. Returns false when the image is missing.
bool DrawSkin(QPainter& painter, int pngId);

// Paints `pngId` under everything else `widget` paints, for the widget's whole life. Use it for
// a dialog that has no paintEvent of its own; a widget with one may call DrawSkin there instead.
class SkinnedBackground : public QObject
{
    Q_OBJECT

public:
    static SkinnedBackground* Install(QWidget* widget, int pngId);

    int PngId() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SkinnedBackground(QWidget* widget, int pngId);

    int m_pngId;
};
