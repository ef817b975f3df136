#include "widgets/messagebox.h"

#include "platform/uithread.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QMutex>
#include <QQueue>

namespace widgets::msgbox {
namespace {

QMutex seamLock;
QQueue<Answer> nextAnswers;
QStringList answeredTexts;

QString caption()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

Answer showHere(const QString& text, Buttons buttons, QWidget* owner)
{
    {
        QMutexLocker guard(&seamLock);
        if (!nextAnswers.isEmpty()) {
            answeredTexts.append(text);
            return nextAnswers.dequeue();
        }
    }
    QMessageBox box(owner ? owner : QApplication::activeWindow());
    box.setWindowTitle(caption());
    box.setText(text);
    box.setWindowModality(Qt::ApplicationModal);
    switch (buttons) {
    case OkOnly:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Yes;
    case QMessageBox::No:
        return No;
    case QMessageBox::Cancel:
        return Cancel;
    case QMessageBox::Ok:
        return Ok;
    default:
        // Closed with Escape or the close box: the Windows box answers Cancel, or No for Yes/No.
        return buttons == YesNo ? No : buttons == OkCancel ? Cancel : Ok;
    }
}

} // namespace

Answer Show(const QString& text, Buttons buttons, QWidget* owner)
{
    Answer answer = Ok;
    platform::RunOnUiThread([&] { answer = showHere(text, buttons, owner); });
    return answer;
}

void SetNextAnswer(Answer answer)
{
    QMutexLocker guard(&seamLock);
    nextAnswers.enqueue(answer);
}

QStringList TakeAnsweredTexts()
{
    QMutexLocker guard(&seamLock);
    return std::exchange(answeredTexts, {});
}

} // namespace widgets::msgbox
