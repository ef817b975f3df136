#pragma once
// RAruzeVOVOzu: the about dialog opened from the tray menu. The product's web site, its version
// and its rights line on the skin; it has no settings and writes nothing.

#include "widgets/skinnedwindow.h"

#include <QDialog>
#include <QString>

class PngButton;
class QLabel;

class RAruzeVOVOzu : public QDialog, public widgets::SkinnedWindow
{
    Q_OBJECT

public:
    enum ControlId { kCloseButton = 1, kText = 1005, kCloseGlyph = 1037 };

    explicit RAruzeVOVOzu(QWidget* parent = nullptr);
    ~RAruzeVOVOzu() override;

    // The three lines: web site, version, rights.
    static QString AboutText();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_text = nullptr;
    PngButton* m_closeButton = nullptr;
    PngButton* m_closeGlyph = nullptr;
};
