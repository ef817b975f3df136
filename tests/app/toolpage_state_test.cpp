// The tool page tells the truth about each pack: what the cards show at load is reconciled
// with the archives really in the program's Downloads folder, progress moves, a pause stops
// where it says, and downloads that fail or cannot start say so. The real main window
// offscreen, the real page, the real qx77-server.

#include "appfixture.h"
#include "testfiles.h"
#include "testrunner.h"
#include "toolpagefixture.h"

#include "app/mainwindow.h"
#include "config/inifile.h"
#include "config/programdir.h"
#include "pagehost/htmlctrl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>

#include <optional>

namespace {

const QString kRedMarks = QStringLiteral("红点准星");
const QString kGreenMarks = QStringLiteral("绿色十字准星");
const QString kBlueSkin = QStringLiteral("蓝色经典界面");
const QString kClearRes = QStringLiteral("清晰地图资源包");
const QString kBig = QStringLiteral("大型地图资源包");
const QString kBigFile = QStringLiteral("big_res.zip");
const QStringList kFiles = {QStringLiteral("mark_red.zip"), QStringLiteral("mark_green.zip"),
                            QStringLiteral("skin_blue.zip"), QStringLiteral("res_clear.zip"), kBigFile};
// Big enough that every chunk of a download is well under one per cent of it.
constexpr int kBigBytes = 8 * 1024 * 1024;

QString statePath()
{
    return GetProgramDir() + QStringLiteral("toolpage.ini");
}

QString record(const QString& file)
{
    return ReadIniString(statePath(), QLatin1String("downloads"), file, QStringLiteral("<missing>"), 260);
}

bool setRecord(const QString& file, const QString& value)
{
    return WriteIniString(statePath(), QLatin1String("downloads"), file, value);
}

// What share of the big pack is really in Downloads, in whole per cent.
int bigPercentOnDisk()
{
    return int(QFileInfo(DownloadPath(kBigFile)).size() * 100 / kBigBytes);
}

} // namespace

class ToolPageStateTest : public QObject
{
    Q_OBJECT

    DemoServer m_server;
    QByteArray m_big;
    std::optional<FileGuard> m_config, m_state;

    QString Served(const QString& file) const
    {
        return m_server.DataDir() + QStringLiteral("/packs/") + file;
    }

    void Reload(DEZIRUdu& window)
    {
        QSignalSpy reloaded(window.BrowserView(), &QWebEngineView::loadFinished);
        window.BrowserView()->Refresh();
        QVERIFY(reloaded.wait(kPageTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(
            RunJs(PageOf(window), QStringLiteral("document.querySelectorAll('#packs .pack').length")).toInt(),
            5, kPageTimeoutMs);
    }

    // Settled: no card is still checking or pausing.
    static bool Settled(QWebEnginePage* page)
    {
        return RunJs(page,
                     QStringLiteral(
                         "[...document.querySelectorAll('#packs .pack')]"
                         ".every(c => c.dataset.state !== 'checking' && c.dataset.state !== 'pausing')"))
            .toBool();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.Start());
        // A fifth pack of realistic size, added to the demo catalogue.
        m_big.resize(kBigBytes);
        QRandomGenerator random(77);
        random.fillRange(reinterpret_cast<quint32*>(m_big.data()), kBigBytes / 4);
        QVERIFY(writeFile(Served(kBigFile), m_big));
        const QString catalogue = m_server.DataDir() + QStringLiteral("/catalogue.json");
        QJsonObject root = QJsonDocument::fromJson(readFile(catalogue)).object();
        QJsonArray list = root.value(u"packs").toArray();
        list.append(QJsonObject{
            {QStringLiteral("file"), kBigFile}, {QStringLiteral("name"), kBig}, {QStringLiteral("kind"), 3}});
        root.insert(u"packs", list);
        QVERIFY(writeFile(catalogue, QJsonDocument(root).toJson()));
    }

    void cleanupTestCase() { QVERIFY(m_server.Stop()); }

    void init()
    {
        m_config.emplace(config::GetConfigPath());
        m_state.emplace(statePath());
        QVERIFY(WriteStartConfig(m_server.GameDir()));
        for (const QString& file : kFiles)
            QFile::remove(DownloadPath(file));
        QVERIFY(QDir().mkpath(GetProgramDir() + QStringLiteral("Downloads")));
    }

    void cleanup()
    {
        for (const QString& file : kFiles)
            QFile::remove(DownloadPath(file));
        m_state.reset();
        m_config.reset();
    }

    // Archives put there by a link install, by an earlier page or by an interrupted download,
    // and records that no longer match the disk.
    void cardsShowWhatIsOnDisk()
    {
        QVERIFY(QFile::copy(Served(QStringLiteral("mark_red.zip")),
                            DownloadPath(QStringLiteral("mark_red.zip"))));
        QVERIFY(QFile::copy(Served(QStringLiteral("skin_blue.zip")),
                            DownloadPath(QStringLiteral("skin_blue.zip"))));
        QVERIFY(setRecord(QStringLiteral("skin_blue.zip"), QStringLiteral("installed")));
        QVERIFY(setRecord(QStringLiteral("res_clear.zip"), QStringLiteral("paused:40"))); // its file is gone
        QVERIFY(writeFile(DownloadPath(kBigFile), m_big.left(kBigBytes / 4)));
        QVERIFY(setRecord(kBigFile, QStringLiteral("partial"))); // as earlier pages wrote it

        auto window = MakeToolPageWindow(5);
        QWebEnginePage* page = PageOf(*window);
        QTRY_VERIFY_WITH_TIMEOUT(Settled(page), kPageTimeoutMs);

        QCOMPARE(CardState(page, kRedMarks), QStringLiteral("已下载")); // a link install left it whole
        QCOMPARE(
            RunJs(page, OnCard(kRedMarks, QStringLiteral("c.querySelector('.install').hidden"))).toBool(),
            false);
        QCOMPARE(CardState(page, kBlueSkin), QStringLiteral("已安装"));
        QCOMPARE(CardState(page, kClearRes), QString());
        QCOMPARE(RunJs(page, OnCard(kClearRes, QStringLiteral("c.querySelector('.download').textContent")))
                     .toString(),
                 QStringLiteral("下载"));
        // The resumed download's first report told the truth, and it was paused again.
        QCOMPARE(CardState(page, kBig), QStringLiteral("已暂停 %1%").arg(bigPercentOnDisk()));
        QVERIFY2(bigPercentOnDisk() == 25, qPrintable(CardState(page, kBig)));
        QCOMPARE(RunJs(page, OnCard(kBig, QStringLiteral("c.querySelector('.fill').style.width"))).toString(),
                 QStringLiteral("25%"));
        QCOMPARE(
            RunJs(page, OnCard(kBig, QStringLiteral("c.querySelector('.download').textContent"))).toString(),
            QStringLiteral("继续"));
        QCOMPARE(CardState(page, kGreenMarks), QString());

        QCOMPARE(record(QStringLiteral("mark_red.zip")), QStringLiteral("done"));
        QCOMPARE(record(QStringLiteral("res_clear.zip")), QString());
        QCOMPARE(record(kBigFile), QStringLiteral("paused:25"));

        // Again after a reload, and still in step with the file.
        Reload(*window);
        QTRY_VERIFY_WITH_TIMEOUT(Settled(page), kPageTimeoutMs);
        QCOMPARE(CardState(page, kRedMarks), QStringLiteral("已下载"));
        QCOMPARE(CardState(page, kBig), QStringLiteral("已暂停 %1%").arg(bigPercentOnDisk()));
        window->OnCancel();
    }

    // Progress is reported as it happens; a pause stops the file where the card says.
    void progressPauseAndResume()
    {
        auto window = MakeToolPageWindow(5);
        QWebEnginePage* page = PageOf(*window);
        // Presses pause from inside the report of 30 %, while the download waits for the page.
        QVERIFY(RunJs(page,
                      QStringLiteral("(function(){ const shown = window.__shown = [];"
                                     " const report = window.OnDownloadProgress;"
                                     " window.OnDownloadProgress = function (s, h, l, p) {"
                                     "   report(s, h, l, p); const c = %1;"
                                     "   shown.push(c.querySelector('.state').textContent);"
                                     "   if (s === 1 && p >= 30 && !window.__paused) {"
                                     "     window.__paused = true; c.querySelector('.pause').click(); } };"
                                     " return true; })()")
                          .arg(OnCard(kBig, QStringLiteral("c"))))
                    .toBool());
        Click(page, kBig, "download");
        QTRY_COMPARE_WITH_TIMEOUT(CardState(page, kBig), QStringLiteral("已暂停 30%"), kPageTimeoutMs);
        QCOMPARE(bigPercentOnDisk(), 30);
        const QStringList shown = RunJs(page, QStringLiteral("window.__shown")).toStringList();
        QVERIFY2(shown.contains(QStringLiteral("下载中 1%")) && shown.contains(QStringLiteral("下载中 29%")),
                 qPrintable(shown.join(u',')));
        QCOMPARE(record(kBigFile), QStringLiteral("paused:30"));

        Click(page, kBig, "download"); // 继续
        QTRY_COMPARE_WITH_TIMEOUT(CardState(page, kBig), QStringLiteral("已下载"), kPageTimeoutMs);
        QCOMPARE(readFile(DownloadPath(kBigFile)), m_big);
        QCOMPARE(record(kBigFile), QStringLiteral("done"));
        window->OnCancel();
    }

    void failuresAndDownloadsThatCannotStartSaySo()
    {
        auto window = MakeToolPageWindow(5);
        QWebEnginePage* page = PageOf(*window);

        // The server lost the file after the page listed it.
        const QString served = Served(QStringLiteral("mark_green.zip"));
        const QByteArray pack = readFile(served);
        QVERIFY(QFile::remove(served));
        Click(page, kGreenMarks, "download");
        QTRY_COMPARE_WITH_TIMEOUT(CardState(page, kGreenMarks),
                                  QStringLiteral("下载失败：没有从服务器取得文件（服务器出错或连接中断）。"),
                                  kPageTimeoutMs);
        QCOMPARE(RunJs(page, OnCard(kGreenMarks, QStringLiteral("c.querySelector('.download').textContent")))
                     .toString(),
                 QStringLiteral("重试"));
        QVERIFY(writeFile(served, pack));
        Click(page, kGreenMarks, "download");
        QTRY_COMPARE_WITH_TIMEOUT(CardState(page, kGreenMarks), QStringLiteral("已下载"), kPageTimeoutMs);
        QCOMPARE(readFile(DownloadPath(QStringLiteral("mark_green.zip"))), pack);

        // No Downloads folder can be made (a file is in its way): the card does not sit at
        // "下载中 0%", it says why.
        const QString downloads = GetProgramDir() + QStringLiteral("Downloads");
        const QString aside = downloads + QStringLiteral(".aside");
        QDir(aside).removeRecursively();
        QVERIFY(QDir().rename(downloads, aside));
        QVERIFY(writeFile(downloads, "not a folder"));
        Click(page, kClearRes, "download");
        const QString reason = QStringLiteral("无法在程序目录中创建下载文件，请检查程序目录是否可写。");
        const QString state = CardState(page, kClearRes);
        const QString status =
            RunJs(page, QStringLiteral("document.getElementById('status').textContent")).toString();
        QVERIFY(QFile::remove(downloads));
        QVERIFY(QDir().rename(aside, downloads));
        QCOMPARE(state, QStringLiteral("下载失败：") + reason);
        QCOMPARE(status, QStringLiteral("无法开始下载“清晰地图资源包”：") + reason);

        // Once the folder is back, the retry goes through.
        Click(page, kClearRes, "download");
        QTRY_COMPARE_WITH_TIMEOUT(CardState(page, kClearRes), QStringLiteral("已下载"), kPageTimeoutMs);
        window->OnCancel();
    }
};

YFZS_TEST_CLASS(ToolPageStateTest)
#include "toolpage_state_test.moc"
