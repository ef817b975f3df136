#include "aboutdialog.h"

#include "addresses.h"
#include "dialogunits.h"
#include "pngbutton.h"
#include "pngresource.h"
#include "skinnedbackground.h"

#include <QKeyEvent>
#include <QLabel>

namespace {

constexpr int kWidth = 350; // the size of background 190
constexpr int kHeight = 150;
constexpr int kBackground = 190;
constexpr int kOkImage = 188;
constexpr int kCloseImage = 184;
const QColor kTextColour(14, 78, 129);

} // namespace

RAruzeVOVOzu::RAruzeVOVOzu(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    QFont font = this->font();
    font.setPixelSize(12);
    setFont(font);

    m_closeButton = new PngButton(this);
    m_closeButton->setObjectName(QString::number(kCloseButton));
    m_closeButton->setText(QStringLiteral("关闭"));
    m_closeButton->setGeometry(DialogUnits::ToPixels(75, 59, 26, 12));

    m_text = new QLabel(this);
    m_text->setObjectName(QString::number(kText));
    m_text->setGeometry(DialogUnits::ToPixels(21, 25, 138, 33));
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setTextFormat(Qt::PlainText);
    QPalette palette = m_text->palette();
    palette.setColor(QPalette::WindowText, kTextColour);
    m_text->setPalette(palette);

    m_closeGlyph = new PngButton(this);
    m_closeGlyph->setObjectName(QString::number(kCloseGlyph));
    m_closeGlyph->setGeometry(DialogUnits::ToPixels(172, 1, 11, 12));

    m_text->setText(AboutText());
    setFixedSize(kWidth, kHeight);
    SkinnedBackground::Install(this, kBackground);
    m_closeButton->SetImage(LoadPngResource(kOkImage));
    m_closeGlyph->SetImage(LoadPngResource(kCloseImage));
    m_closeGlyph->setGeometry(330, 10, 20, 20);

    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_closeGlyph, &QPushButton::clicked, this, &QDialog::reject);
}

RAruzeVOVOzu::~RAruzeVOVOzu() = default;

int RAruzeVOVOzu::DoModal()
{
    return exec();
}

QWidget* RAruzeVOVOzu::GetDlgItem(int id) const
{
    return findChild<QWidget*>(QString::number(id));
}

QString RAruzeVOVOzu::AboutText()
{
    return Addresses::ForumUrl() + u'\n' + QStringLiteral("QX77 云帆助手 版本 " YFZS_VERSION_TEXT) + u'\n'
           + QStringLiteral("版权所有 © 2026 QX77 云帆助手");
}

void RAruzeVOVOzu::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event); // Escape rejects
}
