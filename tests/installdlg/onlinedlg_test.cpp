#include "httpfixture.h"
#include "testfiles.h"
#include "testrunner.h"

#include "installdlg/onlinedlg.h"

#include "config/inifile.h"
#include "logcapture.h"
#include "widgets/messagebox.h"
#include "zipbuilder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

const QString kInstalled = QStringLiteral("安装成功，您可以通过云帆助手【启动游戏】按钮进入游戏！");
const QString kRepaired = QStringLiteral("修复成功，如果还是不能正常运行，请到官网下载最新版！");
const QString kDownloadError = QStringLiteral("下载出错");
const QString kUnpackError = QStringLiteral("解压出错");
const QString kNoGameDir = QStringLiteral("未指定游戏目录");

// A pack of a few files, a sub-folder among them; big enough for several progress steps.
QByteArray makeArchive(const QByteArray& tag)
{
    QByteArray filler;
    for (int i = 0; i < 40000; ++i)
        filler += QByteArray::number(i * 2654435761u); // poorly compressible text
    return ZipBuilder()
        .AddFile("readme.txt", "pack " + tag)
        .AddFolder("sub/")
        .AddFile("sub/big.bin", filler)
        .Bytes();
}

} // namespace

class OnlineDlgTest : public QObject
{
    Q_OBJECT

private:
    LoopbackHttpServer m_server;
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_programDir; // ends with '/'
    QString m_gameDir;
    QByteArray m_pack;
    QMutex m_positionsLock;
    QList<int> m_positions;
    QStringList m_texts; // message boxes answered while the dialog ran

    std::unique_ptr<COnlineDlg> makeDialog(const QString& url, const QString& repairFlag,
                                           const QString& fileName, const QString& type)
    {
        auto d = std::make_unique<COnlineDlg>(
            installdlg::InstallJob{.downloadUrl = url,
                                   .repairFlag = repairFlag == u"1",
                                   .fileName = fileName,
                                   .resourceType = installdlg::PackKindFromText(type),
                                   .programDir = m_programDir,
                                   .gameDir = m_gameDir});
        connect(
            d.get(), &COnlineDlg::ProgressChanged, d.get(),
            [this](int position) {
                QMutexLocker lock(&m_positionsLock);
                m_positions << position;
            },
            Qt::DirectConnection);
        return d;
    }

    // Runs the dialog; `act` is polled on the dialog's own loop and may close it. A watchdog
    // closes a dialog that never ends so a fault fails the test instead of hanging it.
    void run(COnlineDlg& d, std::function<void(COnlineDlg&)> act = {})
    {
        QPointer<COnlineDlg> guard(&d);
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            m_texts += widgets::msgbox::TakeAnsweredTexts();
            if (act && guard)
                act(d);
        });
        bool watchdogFired = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, this, [&] {
            watchdogFired = true;
            if (guard)
                guard->reject();
        });
        watchdog.start(15000);
        poll.start();
        d.DoModal();
        poll.stop();
        m_texts += widgets::msgbox::TakeAnsweredTexts();
        QVERIFY2(!watchdogFired, "the dialog did not close by itself");
    }

    QList<int> positions()
    {
        QMutexLocker lock(&m_positionsLock);
        return m_positions;
    }

    QString pack(const QString& name) const
    {
        return m_server.Authority() + QStringLiteral("/packs/") + name;
    }
    QString download(const QString& name) const { return m_programDir + QStringLiteral("Downloads/") + name; }

    // The dialog for the pack `name` under /packs/, as an install ("0") or a repair ("1", whose
    // link names its scheme), with the box it ends with answered in advance.
    std::unique_ptr<COnlineDlg> openPack(const QString& repairFlag, const QString& name,
                                         const QString& kind = u"2"_qs, const QString& fileName = {})
    {
        const QString url = pack(name);
        auto d = makeDialog(repairFlag == u"1" ? u"http://"_qs + url : url, repairFlag,
                            fileName.isEmpty() ? name : fileName, kind);
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        return d;
    }

    // The rows of a case that runs once as an install and once as a repair.
    static void installAndRepairRows()
    {
        QTest::addColumn<QString>("repairFlag");
        QTest::newRow("install") << u"0"_qs;
        QTest::newRow("repair") << u"1"_qs;
    }

private slots:
    void initTestCase() { QVERIFY(m_server.Start()); }

    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_programDir = m_root->filePath(QStringLiteral("program")) + u'/';
        m_gameDir = m_root->filePath(QStringLiteral("game"));
        QVERIFY(QDir().mkpath(m_programDir));
        QVERIFY(writeFile(m_gameDir + QStringLiteral("/QQLogin.exe"), "game"));
        QVERIFY(QDir().mkpath(m_gameDir + QStringLiteral("/rez")));
        m_server.Clear();
        m_pack = makeArchive("one");
        QVERIFY(m_pack.size() > 100000);
        m_positions.clear();
        m_texts.clear();
        widgets::msgbox::TakeAnsweredTexts();
    }

    void progressPosition_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("position");
        QTest::newRow("nothing yet") << qint64(0) << qint64(1000) << 0;
        QTest::newRow("half") << qint64(500) << qint64(1000) << 50;
        QTest::newRow("a third truncates") << qint64(1) << qint64(3) << 33;
        QTest::newRow("two thirds truncate") << qint64(2) << qint64(3) << 66;
        QTest::newRow("just short of all") << qint64(999) << qint64(1000) << 99;
        QTest::newRow("all") << qint64(1000) << qint64(1000) << 100;
        QTest::newRow("unknown size") << qint64(12345) << qint64(0) << 0;
        QTest::newRow("past 2 GiB") << qint64(3000000000) << qint64(4000000000) << 75;
    }
    void progressPosition()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, total);
        QFETCH(int, position);
        QCOMPARE(COnlineDlg::ProgressPosition(received, total), position);
    }

    // Each kind lands in its folder, clears its marker (key kept, value empty), keeps the
    // archive in a Downloads folder it created, and ends with the bar full.
    void packKindsLandInTheirFolders_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::newRow("1 marks") << u"1"_qs << u"/rez/UI/Mark/"_qs << u"jstbsetep"_qs << u"jstb"_qs;
        QTest::newRow("2 interface") << u"2"_qs << u"/rez/UI/"_qs << u"yxbjsetep"_qs << u"yxbj"_qs;
        QTest::newRow("3 rez") << u"3"_qs << u"/rez/"_qs << u"jsyxsetep"_qs << u"jsyx"_qs;
    }
    void packKindsLandInTheirFolders()
    {
        QFETCH(QString, type);
        QFETCH(QString, folder);
        QFETCH(QString, section);
        QFETCH(QString, key);
        const QString config = m_programDir + QStringLiteral("config.ini");
        QVERIFY(WriteIniString(config, section, key, QStringLiteral("old.png")));
        QVERIFY(WriteIniString(config, QStringLiteral("CF Info"), QStringLiteral("FOLDER"), m_gameDir));

        m_server.Put("/packs/ui.zip", m_pack);
        auto d = openPack(u"0"_qs, u"ui.zip"_qs, type);
        run(*d);

        QCOMPARE(m_texts, QStringList{kInstalled});
        QCOMPARE(d->windowTitle(), QStringLiteral("正在下载资源，请稍等"));
        QCOMPARE(readFile(m_gameDir + folder + QStringLiteral("readme.txt")), QByteArray("pack one"));
        QVERIFY(QFile::exists(m_gameDir + folder + QStringLiteral("sub/big.bin")));
        QCOMPARE(readFile(download(QStringLiteral("ui.zip"))), m_pack);
        QCOMPARE(ReadIniString(config, section, key, QStringLiteral("absent")), QString());
        QVERIFY(readFile(config).contains((u'\n' + key + QStringLiteral("=\r\n")).toUtf8())
                || readFile(config).contains((u'\n' + key + QStringLiteral("=\n")).toUtf8()));
        QCOMPARE(ReadIniString(config, QStringLiteral("CF Info"), QStringLiteral("FOLDER"), {}), m_gameDir);

        const QList<int> seen = positions();
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last(), 100);
        QVERIFY(std::is_sorted(seen.cbegin(), seen.cend()));
        QCOMPARE(d->ProgressValue(), 100);
    }

    // An unknown kind downloads but unpacks nothing, clears no marker and is not reported installed.
    void unknownKindOnlyDownloads()
    {
        m_server.Put("/packs/ui.zip", m_pack);
        auto d = openPack(u"0"_qs, u"ui.zip"_qs, u"4"_qs);
        run(*d);
        QCOMPARE(m_texts, QStringList{u"资源类型未知，未安装"_qs});
        QCOMPARE(readFile(download(QStringLiteral("ui.zip"))), m_pack);
        QCOMPARE(QDir(m_gameDir + QStringLiteral("/rez")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
        QVERIFY(!QFile::exists(m_programDir + QStringLiteral("config.ini")));
    }

    // An older, longer file of the same name is replaced whole, not written over in part.
    void existingArchiveIsReplaced_data() { installAndRepairRows(); }
    void existingArchiveIsReplaced()
    {
        QFETCH(QString, repairFlag);
        QVERIFY(writeFile(download(QStringLiteral("ui.zip")), QByteArray(m_pack.size() + 5000, 'o')));
        m_server.Put("/packs/ui.zip", m_pack);
        auto d = openPack(repairFlag, u"ui.zip"_qs);
        run(*d);
        QCOMPARE(m_texts, QStringList{repairFlag == u"1" ? kRepaired : kInstalled});
        QCOMPARE(readFile(download(QStringLiteral("ui.zip"))), m_pack);
    }

    // The repair downloads the whole address as given and unpacks over the game folder.
    void repairUnpacksOverTheGameFolder()
    {
        QVERIFY(writeFile(m_gameDir + QStringLiteral("/readme.txt"), "damaged"));
        m_server.Put("/cftoolweb/yxxf.zip", m_pack);
        auto d = makeDialog(u"http://"_qs + m_server.Authority() + u"/cftoolweb/yxxf.zip"_qs,
                            QStringLiteral("1"), QStringLiteral("yxxf.zip"), QString());
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        run(*d);
        QCOMPARE(m_texts, QStringList{kRepaired});
        QCOMPARE(m_server.Paths(), QStringList{u"/cftoolweb/yxxf.zip"_qs});
        QCOMPARE(readFile(m_gameDir + QStringLiteral("/readme.txt")), QByteArray("pack one"));
        QCOMPARE(readFile(m_gameDir + QStringLiteral("/QQLogin.exe")), QByteArray("game"));
        QCOMPARE(readFile(download(QStringLiteral("yxxf.zip"))), m_pack);
        QVERIFY(!QFile::exists(m_programDir + QStringLiteral("config.ini")));
    }

    // A failed download says so and then closes the dialog by itself; nothing is unpacked or
    // marked. A failed repair removes its archive, even an older one of that name.
    void failedDownloadClosesTheDialog_data()
    {
        QTest::addColumn<QString>("repairFlag");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("install") << u"0"_qs << u"ui.zip"_qs;
        QTest::newRow("repair") << u"1"_qs << u"yxxf.zip"_qs;
    }
    void failedDownloadClosesTheDialog()
    {
        QFETCH(QString, repairFlag);
        QFETCH(QString, fileName);
        QVERIFY(writeFile(download(fileName), "older archive"));
        auto d = openPack(repairFlag, u"missing.zip"_qs, u"2"_qs, fileName);
        run(*d); // fails on the watchdog when the dialog stays open
        QCOMPARE(m_texts, QStringList{kDownloadError});
        QCOMPARE(m_server.Paths(), QStringList{u"/packs/missing.zip"_qs});
        if (repairFlag == u"1")
            QVERIFY(!QFile::exists(download(fileName)));
        QVERIFY(!QFile::exists(m_gameDir + QStringLiteral("/rez/UI")));
        QVERIFY(!QFile::exists(m_programDir + QStringLiteral("config.ini")));
    }

    // A pack whose last entry is damaged changes nothing in the game, installed or repaired.
    void damagedPackLeavesTheGameAlone()
    {
        QVERIFY(writeFile(m_gameDir + QStringLiteral("/readme.txt"), "installed"));
        QVERIFY(writeFile(m_gameDir + QStringLiteral("/rez/UI/readme.txt"), "installed ui"));
        QByteArray damaged = m_pack;
        const qsizetype data = damaged.indexOf("sub/big.bin") + 11;
        damaged[data + 9000] = char(damaged[data + 9000] ^ 0x11);
        m_server.Put("/packs/ui.zip", damaged);
        for (const QString& repairFlag : {u"0"_qs, u"1"_qs}) {
            auto d = openPack(repairFlag, u"ui.zip"_qs);
            run(*d);
        }
        QCOMPARE(m_texts, (QStringList{kUnpackError, kUnpackError}));
        QCOMPARE(readFile(m_gameDir + QStringLiteral("/readme.txt")), QByteArray("installed"));
        QCOMPARE(readFile(m_gameDir + QStringLiteral("/rez/UI/readme.txt")), QByteArray("installed ui"));
        QVERIFY(!QFile::exists(m_gameDir + QStringLiteral("/sub")));
        QVERIFY(!QFile::exists(m_gameDir + QStringLiteral("/rez/UI/sub")));
    }

    // Without a length the bar stays at its start through the whole download.
    void unknownLengthKeepsTheBarAtItsStart()
    {
        TestResource unsized(m_pack);
        unsized.sendLength = false;
        m_server.Put("/packs/ui.zip", unsized);
        auto d = openPack(u"0"_qs, u"ui.zip"_qs);
        // The bar as it stands after each step (queued behind the bar's own update).
        QList<int> barValues;
        COnlineDlg* dialog = d.get();
        connect(
            dialog, &COnlineDlg::ProgressChanged, dialog, [&] { barValues << dialog->ProgressValue(); },
            Qt::QueuedConnection);
        run(*d);
        QCOMPARE(m_texts, QStringList{kInstalled});
        QCOMPARE(readFile(download(QStringLiteral("ui.zip"))), m_pack);
        const QList<int> seen = positions();
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen, QList<int>(seen.size(), 0));
        QVERIFY(!barValues.isEmpty());
        QCOMPARE(barValues, QList<int>(barValues.size(), 0));
        QCOMPARE(d->ProgressValue(), 0);
        QCOMPARE(readFile(m_gameDir + QStringLiteral("/rez/UI/readme.txt")), QByteArray("pack one"));
    }

    // A download that is not a ZIP archive is reported as such, not as a success.
    void corruptArchiveIsReported_data() { installAndRepairRows(); }
    void corruptArchiveIsReported()
    {
        QFETCH(QString, repairFlag);
        QByteArray broken = m_pack;
        broken.truncate(broken.size() / 2); // the central directory is gone
        m_server.Put("/packs/ui.zip", broken);
        auto d = openPack(repairFlag, u"ui.zip"_qs);
        run(*d);
        QCOMPARE(m_texts, QStringList{kUnpackError});
        QCOMPARE(readFile(download(QStringLiteral("ui.zip"))), broken);
    }

    // An archive that claims more than any disk holds: refused before a byte is written, and
    // the user learns that the disk is full, not only that unpacking failed.
    void fullDiskIsNamed_data() { installAndRepairRows(); }
    void fullDiskIsNamed()
    {
        QFETCH(QString, repairFlag);
        const QString made = m_root->filePath(u"huge.zip"_qs);
        QVERIFY(WriteOversizedArchive(made));
        const QByteArray huge = readFile(made);
        m_server.Put("/packs/huge.zip", huge);
        auto d = openPack(repairFlag, u"huge.zip"_qs);

        LogCapture log(u"yfzs.install"_qs);
        run(*d);
        const QStringList logged = log.Take();

        QCOMPARE(m_texts, QStringList{kUnpackError + u"：磁盘空间不足"_qs});
        QCOMPARE(readFile(download(QStringLiteral("huge.zip"))), huge);
        const QString destination = repairFlag == u"1" ? m_gameDir : m_gameDir + u"/rez/UI/"_qs;
        QVERIFY(!QFile::exists(m_gameDir + u"/rez/UI"_qs));
        QVERIFY(!QFile::exists(m_gameDir + u"/e0"_qs));
        const QStringList said = logged.filter(destination).filter(u"not enough free space"_qs);
        QVERIFY2(said.size() == 1 && said[0].startsWith(u"yfzs.install: "_qs),
                 qPrintable(logged.join(u'\n')));
    }

    // No game folder: refused before any request, instead of unpacking at the file-system root.
    void emptyGameFolderDownloadsNothing_data() { installAndRepairRows(); }
    void emptyGameFolderDownloadsNothing()
    {
        QFETCH(QString, repairFlag);
        m_gameDir.clear();
        m_server.Put("/packs/ui.zip", m_pack);
        auto d = openPack(repairFlag, u"ui.zip"_qs);
        run(*d);
        QCOMPARE(m_texts, QStringList{kNoGameDir});
        QCOMPARE(m_server.Paths(), QStringList());
        QVERIFY(!QFile::exists(download(QStringLiteral("ui.zip"))));
        QVERIFY(!QFile::exists(m_programDir + QStringLiteral("config.ini")));
    }

    // Closing while a download crawls stops it quietly: DoModal returns once the worker has
    // ended, no message follows, nothing is unpacked, and the dialog can be destroyed at once.
    void closingDuringADownloadStopsIt()
    {
        // 1 KiB every 30 ms of an announced 64 MiB: it would take minutes to finish.
        TestResource trickle(QByteArray(2 * 1024 * 1024, 'x'));
        trickle.declaredLength = 67108864;
        trickle.pieceSize = 1024;
        trickle.pieceDelayMs = 30;
        m_server.Put("/packs/slow.zip", trickle);
        auto d = makeDialog(pack(QStringLiteral("slow.zip")), QStringLiteral("0"), QStringLiteral("slow.zip"),
                            QStringLiteral("2"));
        run(*d, [&](COnlineDlg& dlg) {
            if (m_server.BytesSent() >= 4096 && dlg.isVisible())
                dlg.reject();
        });
        QCOMPARE(m_texts, QStringList());
        d.reset();
        QTest::qWait(200);
        QCOMPARE(m_texts + widgets::msgbox::TakeAnsweredTexts(), QStringList());
        // The connection is gone: the server feeds nobody any more.
        const qint64 sent = m_server.BytesSent();
        QTest::qWait(200);
        QCOMPARE(m_server.BytesSent(), sent);
        QVERIFY(!QFile::exists(m_gameDir + QStringLiteral("/rez/UI")));
        QVERIFY(!QFile::exists(m_programDir + QStringLiteral("config.ini")));
    }
};

YFZS_TEST_CLASS(OnlineDlgTest)
#include "onlinedlg_test.moc"
