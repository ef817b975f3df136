#include "installdlg/onlinedlg.h"

#include "archive/unzipfolder.h"
#include "config/inifile.h"
#include "config/settingskeys.h"
#include "download/blockingdownload.h"
#include "installdlg/installlog.h"
#include "widgets/messagebox.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProgressBar>

namespace {

// Pack kind → folder under the game folder and the marker key cleared in config.ini.
struct PackPlace
{
    installdlg::PackKind kind;
    const char16_t* folder;
    QLatin1String section;
    QLatin1String key;
};

const PackPlace kPackPlaces[] = {
    {installdlg::PackKind::Marks, u"/rez/UI/Mark/", config::keys::kJstbSection, config::keys::kJstb},
    {installdlg::PackKind::Interface, u"/rez/UI/", config::keys::kYxbjSection, config::keys::kYxbj},
    {installdlg::PackKind::Resources, u"/rez/", config::keys::kJsyxSection, config::keys::kJsyx},
};

} // namespace

COnlineDlg::COnlineDlg(const installdlg::InstallJob& job, QWidget* parent)
    : QDialog(parent)
    , m_job(job)
{
    setFixedSize(354, 85); // 202 × 52 dialog units of the small progress template
    m_progress = new QProgressBar(this);
    m_progress->setGeometry(40, 32, 275, 15);
    m_progress->setTextVisible(false);
    connect(this, &COnlineDlg::ProgressChanged, m_progress, &QProgressBar::setValue);
    connect(this, &COnlineDlg::CloseRequested, this, &QDialog::accept);
    connect(
        this, &COnlineDlg::WorkerEnded, this,
        [this] {
            m_workerRunning = false;
            if (m_endWait)
                m_endWait->quit();
        },
        Qt::QueuedConnection);
}

COnlineDlg::~COnlineDlg()
{
    m_cancel = download::kPauseRequested;
    if (m_worker.joinable())
        m_worker.join();
}

int COnlineDlg::ProgressPosition(qint64 received, qint64 total)
{
    if (total <= 0)
        return 0;
    return int(double(received) * 100.0 / double(total));
}

int COnlineDlg::ProgressValue() const
{
    return m_progress->value();
}

QString COnlineDlg::Target() const
{
    return m_job.programDir + QStringLiteral("Downloads/") + m_job.fileName;
}

int COnlineDlg::DoModal()
{
    setWindowTitle(QStringLiteral("正在下载资源，请稍等"));
    m_progress->setRange(1, 100);
    m_progress->setValue(0); // below the range: an empty bar
    m_cancel = 0;
    m_workerRunning = true;
    m_worker = std::thread([this] {
        DownloadWorker();
        emit WorkerEnded();
    });

    const int result = exec();

    // Closed by the user while the worker still runs: stop the download, and keep serving the
    // worker's message boxes until its end arrives; only then may the dialog go away.
    m_cancel = download::kPauseRequested;
    if (m_workerRunning) {
        QEventLoop wait;
        m_endWait = &wait;
        wait.exec();
        m_endWait = nullptr;
    }
    m_worker.join();
    return result;
}

void COnlineDlg::DownloadWorker()
{
    if (m_job.repairFlag)
        RepairGame();
    else
        InstallPack();
}

bool COnlineDlg::Download(const QString& url, const QString& target)
{
    QDir().mkpath(m_job.programDir + QStringLiteral("Downloads"));
    QFile::remove(target); // a download replaces whatever was there
    const download::DownloadProgress progress = [this](quint64 received, quint64 total) {
        emit ProgressChanged(ProgressPosition(qint64(received), qint64(total)));
    };
    return download::DownloadToFile(url, target, progress, &m_cancel);
}

QString COnlineDlg::Unpack(const QString& archive, const QString& folder)
{
    const archive::UnzipError error = archive::UnzipArchive(archive, folder);
    if (error == archive::UnzipError::None)
        return QString();
    qCWarning(installdlg::lcInstall).noquote()
        << "not installed:" << archive << "into" << folder << ":" << archive::DescribeUnzipError(error);
    // A full disk is the one cause the user can remedy; every other cause keeps the plain text.
    return error == archive::UnzipError::DiskFull ? QStringLiteral("解压出错：磁盘空间不足")
                                                  : QStringLiteral("解压出错");
}

void COnlineDlg::InstallPack()
{
    if (m_job.gameDir.isEmpty()) {
        // Unpacking would otherwise aim at the root of the file system.
        widgets::msgbox::Show(QStringLiteral("未指定游戏目录"));
        emit CloseRequested();
        return;
    }
    const QString target = Target();
    if (!Download(QStringLiteral("http://") + m_job.downloadUrl, target)) {
        if (m_cancel.load() == 0)
            widgets::msgbox::Show(QStringLiteral("下载出错"));
        // Once the player has read why, an empty progress dialog is only in the way.
        emit CloseRequested();
        return;
    }

    const PackPlace* kind = nullptr;
    for (const PackPlace& k : kPackPlaces)
        if (m_job.resourceType == k.kind)
            kind = &k;
    // A pack that was not unpacked is never reported installed.
    QString failure = QStringLiteral("资源类型未知，未安装");
    if (kind) {
        WriteIniString(m_job.programDir + config::keys::kConfigFile, kind->section, kind->key, QString());
        failure = Unpack(target, m_job.gameDir + QString::fromUtf16(kind->folder));
    }
    widgets::msgbox::Show(failure.isEmpty()
                              ? QStringLiteral("安装成功，您可以通过云帆助手【启动游戏】按钮进入游戏！")
                              : failure);
    emit CloseRequested();
}

void COnlineDlg::RepairGame()
{
    if (m_job.gameDir.isEmpty()) {
        widgets::msgbox::Show(QStringLiteral("未指定游戏目录"));
        emit CloseRequested();
        return;
    }
    const QString target = Target();
    if (!Download(m_job.downloadUrl, target)) {
        if (m_cancel.load() == 0)
            widgets::msgbox::Show(QStringLiteral("下载出错"));
        QFile::remove(target);
        emit CloseRequested();
        return;
    }
    const QString failure = Unpack(target, m_job.gameDir);
    widgets::msgbox::Show(
        failure.isEmpty() ? QStringLiteral("修复成功，如果还是不能正常运行，请到官网下载最新版！") : failure);
    emit CloseRequested();
}
