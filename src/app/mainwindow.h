#pragma once
// DEZIRUdu, the program's only main window. It runs "modally": DoModal() shows it and runs an
// event loop until the window ends (EndDialog), which ends the program. Hiding it to the tray
// does not end that run.

#include <QWidget>

class QEventLoop;
class QTimer;

class DEZIRUdu : public QWidget
{
    Q_OBJECT

public:
    explicit DEZIRUdu(QWidget* parent = nullptr);
    ~DEZIRUdu() override;

    int DoModal();
    void EndDialog(int result);

    // A link handed over by a later start. Returns once the link has been handled.
    void OnCopyData(const QString& link);
    // Raise a visible window; a window hidden in the tray stays hidden.
    void BringToFront();

    void OnCancel();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnInitDialog();
    void OnTimer();
    bool HandleLink(const QString& link);

    QTimer* m_linkTimer = nullptr;
    QEventLoop* m_loop = nullptr;
    int m_result = 0;
    bool m_ended = false;
};
