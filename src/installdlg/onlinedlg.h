#pragma once
// COnlineDlg: the small progress dialog that downloads one ZIP archive and unpacks it, either a
// resource pack into the game's rez tree (a VEDERU77 link) or the repair archive over the game
// folder. The work runs on a worker thread; the dialog only shows the progress bar, and closes
// by itself once the outcome, success or failure, has been shown. Closing the
// dialog stops the download, and the dialog stays alive until its worker has ended. Callers run
// it through RunInstallJob (installjob.h).

#include "installdlg/installjob.h"

#include <QDialog>
#include <QString>

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <thread>

class QEventLoop;
class QProgressBar;

class COnlineDlg : public QDialog
{
    Q_OBJECT

public:
    explicit COnlineDlg(const installdlg::InstallJob& job, QWidget* parent = nullptr);
    ~COnlineDlg() override;

    // Runs the dialog until it closes and its worker has ended.
    int DoModal();

    // The progress bar's position for `received` of `total` bytes (0 when the size is unknown).
    static int ProgressPosition(qint64 received, qint64 total);

    int ProgressValue() const;

signals:
    // Emitted by the worker; the dialog takes each through a queued connection.
    void ProgressChanged(int position);
    void CloseRequested();
    void WorkerEnded();

private:
    void DownloadWorker();
    void InstallPack();
    void RepairGame();
    bool Download(const QString& url, const QString& target);
    // The empty string when every entry was unpacked, else the message that says why not.
    QString Unpack(const QString& archive, const QString& folder);
    QString Target() const;

    const installdlg::InstallJob m_job;
    QProgressBar* m_progress = nullptr;
    std::thread m_worker;
    bool m_workerRunning = false; // user-interface thread only: cleared by WorkerEnded
    QEventLoop* m_endWait = nullptr;
    std::atomic<qint32> m_cancel{0}; // the download's pause watch: set to stop it
};
