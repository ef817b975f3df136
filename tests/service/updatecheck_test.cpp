#include "testrunner.h"

#include "config/inifile.h"
#include "config/programdir.h"
#include "fakeservicehost.h"
#include "recordingui.h"
#include "service/identity.h"
#include "service/serviceclient.h"
#include "servicefixture.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kUpToDate = u"message 当前已经是最新版本!"_qs;
const QString kQuestion = u"ask 发现服务器有新版本，是否升级？"_qs;
const QString kUpdaterMissing = u"message 客户端缺少文件，更新终止。请到官网重新下载!"_qs;
const QString kNoConnection = u"message 无法连接通讯服务器!"_qs;

const QStringList kNewVersion{u"1"_qs, u"20250301120000"_qs, u"4.0.2"_qs,
                              u"http://127.0.0.1:8088/yfzs/setup.zip"_qs};

} // namespace

class UpdateCheckTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString updater() const { return m_workDir.filePath(u"update.exe"_qs); }
    QString updateIni() const { return GetProgramDir() + u"update.ini"_qs; }

private slots:
    void init()
    {
        fixture::Reset(m_workDir);
        QFile::remove(updater());
    }
    void cleanup()
    {
        QDir().rmdir(updateIni()); // left by a failed folder case
        fixture::Restore();
    }

    void requestCarriesInstalledVersion()
    {
        fixture::HostedClient hosted(FakeServiceHost::Always({fixture::Reply({u"0"_qs})}));
        auto& [host, ui, client] = hosted;

        client.OnCheckUpdate(); // fresh installation: empty stamp and version, all separators
        fixture::SetConfigValue(u"yfzsver"_qs, u"sertime"_qs, u"2024-05-01 08:00"_qs);
        fixture::SetConfigValue(u"yfzsver"_qs, u"version"_qs, u"3.2.一"_qs);
        client.OnCheckUpdate();

        const QStringList identity{GetMacAddress(), GetLocalIp()};
        const QList<QByteArray> requests = host.requests();
        QCOMPARE(requests.size(), 2);
        QStringList fresh = fixture::RequestFields(requests.at(0));
        QCOMPARE(fresh,
                 QStringList({u"^11"_qs, fresh.at(1)}) + identity
                     + QStringList({QString(), QString(), u"~"_qs}));
        QCOMPARE(fresh.at(1).toInt(), requests.at(0).size() - 2);
        QCOMPARE(fresh.at(1).size(), 10);

        // Counted in UTF-16 units: the Chinese character counts one, though it is two bytes.
        QStringList installed = fixture::RequestFields(requests.at(1));
        QCOMPARE(installed.mid(2), identity + QStringList({u"2024-05-01 08:00"_qs, u"3.2.一"_qs, u"~"_qs}));
        QCOMPARE(installed.at(1).toInt(), requests.at(1).size() - 2 - 1);
        QCOMPARE(ui.calls, QStringList({kUpToDate, kUpToDate}));
    }

    void noNewerVersion_data()
    {
        QTest::addColumn<QStringList>("tail");
        const QStringList data = kNewVersion.mid(1);
        QTest::newRow("flag 0") << QStringList{u"0"_qs} + data;
        QTest::newRow("flag 1 and a blank") << QStringList{u"1 "_qs} + data;
        QTest::newRow("flag blank and 1") << QStringList{u" 1"_qs} + data;
        QTest::newRow("flag 01") << QStringList{u"01"_qs} + data;
        QTest::newRow("three fields") << QStringList();
        QTest::newRow("four fields, flag 1") << QStringList{u"1"_qs};
        QTest::newRow("six fields, flag 1") << kNewVersion.mid(0, 3);
    }

    void noNewerVersion()
    {
        QFETCH(QStringList, tail);
        fixture::HostedClient hosted(FakeServiceHost::Always({fixture::Reply(tail)}));
        auto& [host, ui, client] = hosted;

        client.OnCheckUpdate();
        QCOMPARE(ui.calls, QStringList{kUpToDate});
        QVERIFY(!QFile::exists(updateIni()));

        // The start-up check keeps quiet about it.
        ui.calls.clear();
        client.StartStartupWorker();
        fixture::WaitForWorkers(client);
        QCOMPARE(host.requests().size(), 2);
        QCOMPARE(ui.calls, QStringList{u"prompt"_qs});
        QVERIFY(!QFile::exists(updateIni()));
    }

    void newerVersion_data()
    {
        QTest::addColumn<QString>("autoUpdate"); // null: key missing
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<bool>("updaterPresent");
        QTest::addColumn<QStringList>("expected"); // "start" stands for starting the updater

        QTest::newRow("automatic") << u"1"_qs << QList<bool>() << true
                                   << QStringList{u"start"_qs, u"quit"_qs};
        QTest::newRow("automatic, no updater")
            << u"1"_qs << QList<bool>() << false << QStringList{u"start"_qs, u"quit"_qs};
        QTest::newRow("setting missing, Cancel")
            << QString() << QList<bool>{false} << true << QStringList{kQuestion};
        QTest::newRow("prompted, OK")
            << u"0"_qs << QList<bool>{true} << true << QStringList{kQuestion, u"start"_qs, u"quit"_qs};
        QTest::newRow("prompted, OK, no updater")
            << u"true"_qs << QList<bool>{true} << false
            << QStringList{kQuestion, kUpdaterMissing, u"start"_qs, u"quit"_qs};
    }

    void newerVersion()
    {
        QFETCH(QString, autoUpdate);
        QFETCH(QList<bool>, answers);
        QFETCH(bool, updaterPresent);
        QFETCH(QStringList, expected);
        if (!autoUpdate.isNull())
            fixture::SetConfigValue(u"system"_qs, u"autoupdate"_qs, autoUpdate);
        if (updaterPresent) {
            QFile file(updater());
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        expected.replaceInStrings(QRegularExpression(u"^start$"_qs), u"start "_qs + updater());

        FakeServiceHost host(FakeServiceHost::Always({fixture::Reply(kNewVersion + QStringList{u"~"_qs})}));
        host.pointClientHere();
        for (bool manual : {true, false}) {
            QFile::remove(updateIni());
            RecordingUi ui;
            ui.answers = answers;
            service::ServiceClient client(ui);
            if (manual) {
                client.OnCheckUpdate();
            } else {
                client.StartStartupWorker();
                fixture::WaitForWorkers(client);
                QCOMPARE(ui.calls.takeFirst(), u"prompt"_qs);
            }
            QCOMPARE(ui.calls.join(u"|"_qs), expected.join(u"|"_qs));
            QVERIFY(!ui.calledOffThread);

            // Written before the updater is offered, whatever the answer, in this order.
            QCOMPARE(fixture::KeysInFileOrder(updateIni(), u"yfzsver"_qs),
                     QStringList({u"version"_qs, u"sertime"_qs, u"clientadd"_qs}));
            QCOMPARE((QStringList{ReadIniString(updateIni(), u"yfzsver"_qs, u"version"_qs),
                                  ReadIniString(updateIni(), u"yfzsver"_qs, u"sertime"_qs),
                                  ReadIniString(updateIni(), u"yfzsver"_qs, u"clientadd"_qs)}),
                     QStringList({kNewVersion.at(2), kNewVersion.at(1), kNewVersion.at(3)}));
        }
    }

    // The updater would work from old or half-new data: nothing is offered or started. Both
    // failures hold for root too: a folder in update.ini's place, a line break the store refuses.
    void updateIniNotWritten_data()
    {
        QTest::addColumn<bool>("folderInItsPlace");
        QTest::addColumn<QString>("clientAdd");
        QTest::addColumn<QString>("autoUpdate");
        QTest::newRow("update.ini is a folder, automatic") << true << kNewVersion.at(3) << u"1"_qs;
        QTest::newRow("update.ini is a folder, prompted") << true << kNewVersion.at(3) << u"0"_qs;
        QTest::newRow("refused address, automatic") << false << u"http://a\r\nversion=9"_qs << u"1"_qs;
        QTest::newRow("refused address, prompted") << false << u"http://a\nb"_qs << u"0"_qs;
    }

    void updateIniNotWritten()
    {
        QFETCH(bool, folderInItsPlace);
        QFETCH(QString, clientAdd);
        QFETCH(QString, autoUpdate);
        fixture::SetConfigValue(u"system"_qs, u"autoupdate"_qs, autoUpdate);
        QFile updaterFile(updater());
        QVERIFY(updaterFile.open(QIODevice::WriteOnly));
        if (folderInItsPlace)
            QVERIFY(QDir().mkdir(updateIni()));
        const QStringList reply = kNewVersion.mid(0, 3) + QStringList{clientAdd, u"~"_qs};
        fixture::HostedClient hosted(FakeServiceHost::Always({fixture::Reply(reply)}));
        auto& [host, ui, client] = hosted;
        client.OnCheckUpdate();
        client.StartStartupWorker();
        fixture::WaitForWorkers(client);
        QCOMPARE(host.requests().size(), 2);
        // Only the check the player asked for says that it failed.
        QCOMPARE(ui.calls.size(), 2);
        QVERIFY(ui.calls.contains(u"prompt"_qs));
        QVERIFY(
            ui.calls.contains(u"message 检查更新失败：无法保存新版本的信息到 "_qs + updateIni() + u"。"_qs));
        if (folderInItsPlace)
            QVERIFY(QDir().rmdir(updateIni()));
        else
            QCOMPARE(ReadIniString(updateIni(), u"yfzsver"_qs, u"clientadd"_qs, u"<missing>"_qs),
                     u"<missing>"_qs);
    }

    void noReply_data() { AddFlagRows("hang", "closed without answering", "never answers"); }

    void noReply()
    {
        QFETCH(bool, hang);
        fixture::ShortReplyWait();
        fixture::HostedClient hosted(FakeServiceHost::Always({{}, hang}));
        auto& [host, ui, client] = hosted;
        client.OnCheckUpdate();
        QCOMPARE(host.requests().size(), 1);
        QCOMPARE(ui.calls, QStringList{u"message 检查更新失败：服务器没有回应，请稍后再试。"_qs});
        QVERIFY(!QFile::exists(updateIni()));
    }

    void noConnection()
    {
        EnvGuard env;
        fixture::PointClientAtClosedPort(env);
        RecordingUi ui;
        service::ServiceClient client(ui);
        client.OnCheckUpdate();
        QCOMPARE(ui.calls, QStringList{kNoConnection});

        ui.calls.clear();
        client.StartStartupWorker();
        fixture::WaitForWorkers(client);
        QCOMPARE(ui.calls, QStringList({u"prompt"_qs, kNoConnection}));
        QVERIFY(!ui.calledOffThread);

        // An unknown host name: the connection's own message comes first.
        env.Set("QX77_HOST", "no such host.invalid");
        ui.calls.clear();
        client.OnCheckUpdate();
        QCOMPARE(ui.calls, QStringList({u"message 通讯服务器域名或者网络链接有误!"_qs, kNoConnection}));
    }
};

YFZS_TEST_CLASS(UpdateCheckTest)
#include "updatecheck_test.moc"
