#pragma once
// PngButton: a push button drawn from a horizontal strip of four equal frames (normal, hover,
// pressed, greyed) and sized to one frame. Nothing is painted behind the frame, so transparent
// parts of the strip show the parent's skin.

#include <QImage>
#include <QPushButton>
#include <QRect>

class QTimer;

class PngButton : public QPushButton
{
    Q_OBJECT

public:
    explicit PngButton(QWidget* parent = nullptr);
    ~PngButton() override;

    // Keeps the strip and resizes the button to one frame (strip width / 4 × strip height) at
    // its current top-left position. A null image keeps the size and draws nothing.
    void SetImage(const QImage& image);

    // The button's rectangle in its parent after SetImage.
    QRect Placement() const;
    int FrameWidth() const;

    // The frame drawn now: 0 normal, 1 hover, 2 pressed.
    int CurrentFrame() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void OnHoverTimer();

    QImage m_image;
    int m_frameWidth = 0;
    QRect m_placement;
    bool m_hover = false;
    QTimer* m_hoverTimer = nullptr;
};
