#include "mainwindow.h"
#include "application.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcLink, "yfzs.link", QtInfoMsg)

DEZIRUdu::DEZIRUdu(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
}

DEZIRUdu::~DEZIRUdu() = default;

int DEZIRUdu::DoModal()
{
    OnInitDialog();
    show();
    QEventLoop loop;
    m_loop = &loop;
    if (!m_ended)
        m_result = loop.exec();
    m_loop = nullptr;
    return m_result;
}

void DEZIRUdu::EndDialog(int result)
{
    m_ended = true;
    m_result = result;
    hide();
    if (m_loop)
        m_loop->exit(result);
}

void DEZIRUdu::OnInitDialog()
{
    setWindowTitle(QString::fromUtf16(kMainWindowTitle));
    setFixedSize(800, 600);

    // A link on the first instance's command line is handled once the window is up.
    if (!ZARODAre::PendingLink().isEmpty()) {
        m_linkTimer = new QTimer(this);
        m_linkTimer->setSingleShot(true);
        m_linkTimer->setInterval(100);
        connect(m_linkTimer, &QTimer::timeout, this, &DEZIRUdu::OnTimer);
        m_linkTimer->start();
    }
}

void DEZIRUdu::OnTimer()
{
    m_linkTimer->stop();
    if (!ZARODAre::PendingLink().isEmpty())
        HandleLink(QString(ZARODAre::PendingLink()));
}

void DEZIRUdu::OnCopyData(const QString& link)
{
    HandleLink(link);
}

bool DEZIRUdu::HandleLink(const QString& link)
{
    qCInfo(lcLink).noquote() << "link:" << link;
    return true;
}

void DEZIRUdu::BringToFront()
{
    if (!isVisible())
        return;
    raise();
    activateWindow();
}

void DEZIRUdu::OnCancel()
{
    EndDialog(2);
}

void DEZIRUdu::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        OnCancel();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return; // Enter never closes the main window
    default:
        QWidget::keyPressEvent(event);
    }
}

void DEZIRUdu::closeEvent(QCloseEvent* event)
{
    // The system Close command ends the program the same way Escape does.
    event->ignore();
    OnCancel();
}
