#pragma once
// COnlineDlg: the small progress dialog that downloads one ZIP archive and unpacks it, either a
// resource pack into the game's rez tree (a VEDERU77 link) or the repair archive over the game
// folder. The work runs on a worker thread; the dialog only shows the progress bar. Closing the
// dialog stops the download, and the dialog stays alive until its worker has ended.

#include <QDialog>
#include <QString>

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <thread>

class QProgressBar;

class COnlineDlg : public QDialog
{
    Q_OBJECT

public:
    explicit COnlineDlg(QWidget* parent = nullptr);
    ~COnlineDlg() override;

    // Inputs, set by the caller before DoModal.
    QString downloadUrl;   // pack: address without "http://"; repair: the whole address
    QString repairFlag;    // "1": repair; anything else: pack install
    QString fileName;      // name of the archive in the Downloads folder
    QString resourceType;  // pack kind "1", "2" or "3"
    QString programDir;    // ends with a separator
    QString gameDir;

    // Runs the dialog until it closes and its worker has ended.
    int DoModal();

    // The progress bar's position for `received` of `total` bytes (0 when the size is unknown).
    static int ProgressPosition(qint64 received, qint64 total);

    int ProgressValue() const;

Q_SIGNALS:
    void ProgressChanged(int position);
    void CloseRequested();

private:
    void DownloadWorker();
    void InstallPack();
    void RepairGame();
    bool Download(const QString& url, const QString& target);
    bool Unpack(const QString& archive, const QString& folder);
    QString Target() const;

    QProgressBar* m_progress = nullptr;
    std::thread m_worker;
    std::atomic<bool> m_workerDone{true};
    std::atomic<qint32> m_cancel{0}; // the download's pause watch: set to stop it
};
