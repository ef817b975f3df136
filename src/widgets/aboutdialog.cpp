#include "widgets/aboutdialog.h"

#include "config/addresses.h"
#include "widgets/dialogunits.h"
#include "widgets/pngbutton.h"
#include "widgets/pngresource.h"

#include <QKeyEvent>
#include <QLabel>

namespace {

// Background 190 is 350 × 150. The dialog has no drag strip: it stays where it was centred.
const widgets::SkinnedWindow::Skin kSkin{.backgroundPng = 190, .size = {350, 150}, .fontPixels = 12};
constexpr int kOkImage = 188;
constexpr int kCloseImage = 184;
const QColor kTextColour(14, 78, 129);

} // namespace

RAruzeVOVOzu::RAruzeVOVOzu(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
    , widgets::SkinnedWindow(this, kSkin)
{
    auto place = [](QWidget* control, int x, int y, int w, int h) {
        control->setGeometry(widgets::units::ToPixels(widgets::units::kDialogFont, QRect(x, y, w, h)));
    };
    m_closeButton = AddControl(kCloseButton, new PngButton(this));
    m_closeButton->setText(QStringLiteral("关闭"));
    place(m_closeButton, 75, 59, 26, 12);

    m_text = AddControl(kText, new QLabel(this));
    place(m_text, 21, 25, 138, 33);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setTextFormat(Qt::PlainText);
    QPalette palette = m_text->palette();
    palette.setColor(QPalette::WindowText, kTextColour);
    m_text->setPalette(palette);

    m_closeGlyph = AddControl(kCloseGlyph, new PngButton(this));
    place(m_closeGlyph, 172, 1, 11, 12);

    m_text->setText(AboutText());
    m_closeButton->SetImage(LoadPngResource(kOkImage));
    m_closeGlyph->SetImage(LoadPngResource(kCloseImage));
    m_closeGlyph->setGeometry(330, 10, 20, 20);

    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_closeGlyph, &QPushButton::clicked, this, &QDialog::reject);
}

RAruzeVOVOzu::~RAruzeVOVOzu() = default;

QString RAruzeVOVOzu::AboutText()
{
    return config::addresses::ForumUrl() + u'\n' + QStringLiteral("QX77 云帆助手 版本 " YFZS_VERSION_TEXT)
        + u'\n' + QStringLiteral("版权所有 © 2026 QX77 云帆助手");
}

void RAruzeVOVOzu::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event); // Escape rejects
}
