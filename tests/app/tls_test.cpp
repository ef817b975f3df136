// The program against its vendor behind Debian's nginx, which terminates TLS for the tool server
// (http) and the service host (stream) in front of the real qx77-server, with a CA and
// certificates this test makes. The real main window in this process, pointed at nginx with
// QX77_TOOL_URL=https://…, QX77_SERVICE_TLS=1 and the vendor CA in QX77_CA_FILE. Then the same
// against a second nginx whose certificate comes from another CA, standing in for someone on the
// network path: nothing of the program's reaches it but refused handshakes.

#include "app/mainwindow.h"
#include "pagehost/htmlctrl.h"

#include "service/base64.h"
#include "service/identity.h"

#include "appfixture.h"
#include "config/inifile.h"
#include "config/programdir.h"
#include "config/settingskeys.h"
#include "pagehost/offlinepage.h"
#include "testcerts.h"
#include "testfiles.h"
#include "testrunner.h"
#include "toolpagefixture.h"
#include "widgets/messagebox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

#include <unistd.h>

namespace {

const QString kNginx = QStringLiteral("/usr/sbin/nginx");
const QString kStreamModule = QStringLiteral("/usr/lib/nginx/modules/ngx_stream_module.so");
const QString kRedMarks = QStringLiteral("红点准星");
const QString kRepaired = QStringLiteral("修复成功，如果还是不能正常运行，请到官网下载最新版！");
const QString kNoService = QStringLiteral("无法连接通讯服务器!");

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QByteArray httpGet(const QUrl& url)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply* reply = manager.get(QNetworkRequest(url));
    const bool finished = QTest::qWaitFor([&] { return reply->isFinished(); }, 15000);
    const QByteArray body = finished && reply->error() == QNetworkReply::NoError ? reply->readAll()
                                                                                 : QByteArray();
    delete reply;
    return body;
}

// nginx in the foreground as one process of this user, everything in its own folder: TLS on
// one port proxying to the tool server, and a stream block with TLS on another proxying to the
// service host. The catalogue comes from a static file with addresses relative to the page, as
// README shows for packs served by any web server.
class Nginx
{
public:
    // One process (no master and workers: a killed master would leave its workers running),
    // ended with SIGTERM so it shuts down cleanly.
    ~Nginx()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            StopProcess(m_process);
    }

    bool Start(const QString& dir, const QString& certDir, quint16 toolUpstream, quint16 serviceUpstream,
               const QString& catalogue)
    {
        m_dir = dir;
        m_https = freePort();
        m_stream = freePort();
        if (!QDir().mkpath(dir + QStringLiteral("/temp")) || !m_https || !m_stream)
            return false;
        const QString config = QStringLiteral(
                                   "load_module %1;\n"
                                   "%2"
                                   "daemon off;\n"
                                   "master_process off;\n"
                                   "pid %3/nginx.pid;\n"
                                   "error_log %3/error.log info;\n"
                                   "events { worker_connections 64; }\n"
                                   "http {\n"
                                   "  access_log %3/access.log;\n"
                                   "  client_body_temp_path %3/temp/body;\n"
                                   "  proxy_temp_path %3/temp/proxy;\n"
                                   "  fastcgi_temp_path %3/temp/fastcgi;\n"
                                   "  uwsgi_temp_path %3/temp/uwsgi;\n"
                                   "  scgi_temp_path %3/temp/scgi;\n"
                                   "  server {\n"
                                   "    listen 127.0.0.1:%4 ssl;\n"
                                   "    ssl_certificate %5/server.pem;\n"
                                   "    ssl_certificate_key %5/server.key;\n"
                                   "    location = /api/packs { default_type application/json; alias %8; }\n"
                                   "    location / {\n"
                                   "      proxy_pass http://127.0.0.1:%6;\n"
                                   "      proxy_http_version 1.1;\n"
                                   "      proxy_set_header Host $http_host;\n"
                                   "    }\n"
                                   "  }\n"
                                   "}\n"
                                   "stream {\n"
                                   "  server {\n"
                                   "    listen 127.0.0.1:%7 ssl;\n"
                                   "    ssl_certificate %5/server.pem;\n"
                                   "    ssl_certificate_key %5/server.key;\n"
                                   "    proxy_pass 127.0.0.1:%9;\n"
                                   "  }\n"
                                   "}\n")
                                   .arg(kStreamModule,
                                        geteuid() == 0 ? QStringLiteral("user root;\n") : QString(), dir)
                                   .arg(m_https)
                                   .arg(certDir)
                                   .arg(toolUpstream)
                                   .arg(m_stream)
                                   .arg(catalogue)
                                   .arg(serviceUpstream);
        if (!writeFile(dir + QStringLiteral("/nginx.conf"), config.toUtf8()))
            return false;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(kNginx,
                        {QStringLiteral("-p"), dir, QStringLiteral("-e"), dir + QStringLiteral("/error.log"),
                         QStringLiteral("-c"), dir + QStringLiteral("/nginx.conf")});
        if (!m_process.waitForStarted())
            return false;
        // Up when both ports answer.
        return QTest::qWaitFor(
                   [&] {
                       if (m_process.state() != QProcess::Running)
                           return true;
                       QTcpSocket a, b;
                       a.connectToHost(QHostAddress::LocalHost, m_https);
                       b.connectToHost(QHostAddress::LocalHost, m_stream);
                       return a.waitForConnected(200) && b.waitForConnected(200);
                   },
                   15000)
            && m_process.state() == QProcess::Running;
    }

    quint16 HttpsPort() const { return m_https; }
    quint16 StreamPort() const { return m_stream; }
    QString ErrorLog() const { return QString::fromUtf8(readFile(m_dir + QStringLiteral("/error.log"))); }
    // The request lines nginx served, one per request.
    QString AccessLog() const { return QString::fromUtf8(readFile(m_dir + QStringLiteral("/access.log"))); }

private:
    QProcess m_process;
    QString m_dir;
    quint16 m_https = 0;
    quint16 m_stream = 0;
};

// Closes an install dialog left open after a failed download once its message came.
void closeOpenInstallDialogs()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("COnlineDlg") && w->isVisible())
            QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
}

void typeLogin(DEZIRUdu& window, const QString& name, const QString& secret)
{
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* account = qobject_cast<QLineEdit*>(window.GetDlgItem(DEZIRUdu::IdAccount));
    auto* password = qobject_cast<QLineEdit*>(window.GetDlgItem(DEZIRUdu::IdPassword));
    account->setFocus();
    QTRY_VERIFY(account->hasFocus());
    QTest::keyClicks(account, name);
    password->setFocus();
    QTRY_VERIFY(password->hasFocus());
    QTest::keyClicks(password, secret);
    QTest::mouseClick(window.GetDlgItem(DEZIRUdu::IdLogin), Qt::LeftButton, {}, QPoint(20, 20));
}

// A copy of the executable in its own program folder whose config.ini remembers the demo
// login for this machine, so the program logs in by itself at start.
struct ProgramCopy
{
    QTemporaryDir folder;
    QProcess process;

    QString Config() const { return folder.filePath(QStringLiteral("config.ini")); }
    QString Setting(QLatin1String key) const
    {
        return ReadIniString(Config(), config::keys::kSystem, key, QString(), 64);
    }

    bool Start(const QString& home)
    {
        const QString exe = folder.filePath(QStringLiteral("YFZS"));
        const QString config = Config();
        const bool ready = QFile::copy(QStringLiteral(YFZS_EXECUTABLE), exe)
            && QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner)
            && WriteIniString(config, config::keys::kYfzsVer, config::keys::kVersion, QStringLiteral("1.0.0"))
            && WriteIniString(config, config::keys::kYfzsVer, config::keys::kSerTime,
                              QStringLiteral("20261201000000"))
            && WriteIniString(config, config::keys::kSystem, config::keys::kUid, QStringLiteral("demo"))
            && WriteIniString(config, config::keys::kSystem, config::keys::kMac, GetMacAddress())
            && WriteIniString(config, config::keys::kSystem, config::keys::kUwd, Base64Encode(u"demo123"_qs))
            && WriteIniString(config, config::keys::kSystem, config::keys::kIsLogin, QStringLiteral("0"));
        if (!ready)
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("yfzs.page=true;yfzs.service=true"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder.path());
        process.start(exe, {});
        return process.waitForStarted();
    }
};

} // namespace

class TlsTest : public QObject
{
    Q_OBJECT

private:
    DemoServer m_server;
    QTemporaryDir m_temp;
    Nginx m_vendor;
    Nginx m_attacker;
    std::unique_ptr<EnvGuard> m_env;

    QString Temp(const char* name) const { return m_temp.filePath(QString::fromLatin1(name)); }

    void PointAt(const Nginx& nginx)
    {
        m_env->Set("QX77_TOOL_URL", "https://127.0.0.1:" + QByteArray::number(nginx.HttpsPort()));
        m_env->Set("QX77_SERVICE_PORT", QByteArray::number(nginx.StreamPort()));
    }

private slots:
    void initTestCase()
    {
        if (!QFileInfo(kNginx).isExecutable() || !QFileInfo::exists(kStreamModule))
            QSKIP("nginx with its stream module is not installed (scripts/setup installs it)");
        QVERIFY(m_temp.isValid());
        QVERIFY(m_server.Start());
        const QByteArray toolPort = qgetenv("QX77_TOOL_PORT");
        const QByteArray servicePort = qgetenv("QX77_SERVICE_PORT");

        // The catalogue as a static file, its addresses relative to the page.
        const QString origin = QStringLiteral("http://127.0.0.1:") + QString::fromLatin1(toolPort);
        const QByteArray catalogue = httpGet(QUrl(origin + QStringLiteral("/api/packs")));
        QVERIFY(catalogue.contains("mark_red.zip"));
        QVERIFY(writeFile(Temp("packs.json"), QString::fromUtf8(catalogue).remove(origin).toUtf8()));

        // The impostor's CA bears the vendor's name; only its key differs.
        for (const char* side : {"vendor", "attacker"}) {
            QVERIFY(MakeTestCa(Temp(side), QStringLiteral("QX77 Vendor CA")));
            QVERIFY(MakeServerCertificate(Temp(side), QStringLiteral("server"),
                                          QStringLiteral("IP:127.0.0.1,DNS:localhost")));
        }
        QVERIFY2(m_vendor.Start(Temp("nginx-vendor"), Temp("vendor"), toolPort.toUShort(),
                                servicePort.toUShort(), Temp("packs.json")),
                 qPrintable(m_vendor.ErrorLog()));
        QVERIFY2(m_attacker.Start(Temp("nginx-attacker"), Temp("attacker"), toolPort.toUShort(),
                                  servicePort.toUShort(), Temp("packs.json")),
                 qPrintable(m_attacker.ErrorLog()));

        m_env = std::make_unique<EnvGuard>();
        m_env->Set("QX77_SERVICE_TLS", "1");
        m_env->Set("QX77_CA_FILE", QFile::encodeName(Temp("vendor/ca.pem")));
        widgets::msgbox::TakeAnsweredTexts();
    }

    void cleanupTestCase()
    {
        m_env.reset();
        QFile::remove(DownloadPath(QStringLiteral("mark_red.zip")));
        QFile::remove(DownloadPath(QStringLiteral("yxxf.zip")));
    }

    // The whole program over TLS: the page and its scripts, the page API, a pack, the repair
    // archive and a login, all through nginx.
    void vendorServerOverTls()
    {
        PointAt(m_vendor);
        FileGuard config(config::GetConfigPath());
        FileGuard pageState(GetProgramDir() + QStringLiteral("toolpage.ini"));
        QFile::remove(DownloadPath(QStringLiteral("mark_red.zip")));
        QFile::remove(DownloadPath(QStringLiteral("yxxf.zip")));
        QVERIFY(WriteStartConfig(m_server.GameDir()));

        auto window = MakeToolPageWindow(4);
        QWebEnginePage* page = PageOf(*window);
        QCOMPARE(RunJs(page, QStringLiteral("location.origin")).toString(),
                 QStringLiteral("https://127.0.0.1:%1").arg(m_vendor.HttpsPort()));
        // The game folder on the page comes through the page API.
        QCOMPARE(RunJs(page, QStringLiteral("document.getElementById('gamedir').textContent")).toString(),
                 m_server.GameDir());

        Click(page, kRedMarks, "download");
        QTRY_COMPARE_WITH_TIMEOUT(CardState(page, kRedMarks), QStringLiteral("已下载"), kPageTimeoutMs);
        QCOMPARE(readFile(DownloadPath(QStringLiteral("mark_red.zip"))),
                 readFile(m_server.DataDir() + QStringLiteral("/packs/mark_red.zip")));

        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        window->OnRepair();
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(), QStringList{kRepaired});
        QCOMPARE(readFile(DownloadPath(QStringLiteral("yxxf.zip"))),
                 readFile(m_server.DataDir() + QStringLiteral("/cftoolweb/yxxf.zip")));

        typeLogin(*window, QStringLiteral("demo"), QStringLiteral("demo123"));
        auto* welcome = window->GetDlgItem(DEZIRUdu::IdWelcome);
        QTRY_VERIFY_WITH_TIMEOUT(welcome->isVisible(), kPageTimeoutMs);
        QCOMPARE(qobject_cast<QLabel*>(welcome)->text(), QStringLiteral("欢迎你：demo"));
        // The login is remembered only after the window shows it.
        QTRY_COMPARE_WITH_TIMEOUT(ReadIniString(config::GetConfigPath(), config::keys::kSystem,
                                                config::keys::kIsLogin, QString(), 64),
                                  QStringLiteral("1"), kPageTimeoutMs);
        QVERIFY(widgets::msgbox::TakeAnsweredTexts().isEmpty());

        const QString served = m_vendor.AccessLog();
        for (const char* path : {"GET /CF20/CF_Index.aspx ", "GET /CF20/toolpage.js ", "GET /api/packs ",
                                 "GET /packs/mark_red.zip ", "GET /cftoolweb/yxxf.zip "})
            QVERIFY2(served.contains(QLatin1String(path)), path);
        window->OnCancel();
    }

    // Someone on the network path with a certificate from another CA: the offline page says the
    // server's identity could not be verified, the page API never reaches anything of theirs,
    // no download starts and the login cannot connect.
    void attackerGetsNothing()
    {
        PointAt(m_attacker);
        FileGuard config(config::GetConfigPath());
        QFile::remove(DownloadPath(QStringLiteral("yxxf.zip")));
        QVERIFY(WriteStartConfig(m_server.GameDir()));
        widgets::msgbox::TakeAnsweredTexts();
        // The start-up update check cannot connect either and says so.
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);

        auto window = MakeMainWindow();
        auto* offline = window->findChild<pagehost::OfflinePage*>();
        QVERIFY(offline);
        QTRY_VERIFY_WITH_TIMEOUT(offline->IsShowing(), kPageTimeoutMs);
        QCOMPARE(offline->Text(), pagehost::OfflinePage::IdentityMessage());
        QStringList started;
        QTRY_VERIFY_WITH_TIMEOUT((started += widgets::msgbox::TakeAnsweredTexts(), !started.isEmpty()),
                                 kPageTimeoutMs);
        QCOMPARE(started, QStringList{kNoService});
        QVERIFY(
            RunJs(PageOf(*window), QStringLiteral("typeof (window.external && window.external.GetVersion)"))
                .toString()
            != u"function");

        QTimer closer;
        QStringList texts;
        connect(&closer, &QTimer::timeout, this, [&] {
            texts += widgets::msgbox::TakeAnsweredTexts();
            if (!texts.isEmpty())
                closeOpenInstallDialogs();
        });
        closer.start(20);
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        window->OnRepair();
        closer.stop();
        // The dialog closes itself once the error was shown, often before the first tick.
        texts += widgets::msgbox::TakeAnsweredTexts();
        QCOMPARE(texts, QStringList{QStringLiteral("下载出错")});
        QVERIFY(!QFileInfo::exists(DownloadPath(QStringLiteral("yxxf.zip"))));

        // The login is silent when it cannot connect; the update button says why.
        typeLogin(*window, QStringLiteral("demo"), QStringLiteral("demo123"));
        QTest::qWait(1500);
        QVERIFY(!window->GetDlgItem(DEZIRUdu::IdWelcome)->isVisible());
        QVERIFY(window->GetDlgItem(DEZIRUdu::IdLogin)->isVisible());
        QCOMPARE(
            ReadIniString(config::GetConfigPath(), config::keys::kSystem, config::keys::kUid, QString(), 64),
            QString());
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        window->OnCheckUpdate();
        QStringList asked;
        QTRY_VERIFY_WITH_TIMEOUT((asked += widgets::msgbox::TakeAnsweredTexts(), !asked.isEmpty()),
                                 kPageTimeoutMs);
        QCOMPARE(asked, QStringList{kNoService});

        // Not one request reached the attacker: every handshake was refused.
        QCOMPARE(m_attacker.AccessLog(), QString());
        QVERIFY(m_attacker.ErrorLog().contains(QStringLiteral("SSL")));
        window->OnCancel();
    }

    // The real executable, on its own: against the vendor it shows the page, whose page API
    // calls run, and logs in by itself over TLS; against the impostor it does neither.
    void realExecutable()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        PointAt(m_vendor);
        ProgramCopy vendor;
        QVERIFY(vendor.Start(home.path()));
        QByteArray log;
        QVERIFY(QTest::qWaitFor(
            [&] {
                log += vendor.process.readAllStandardError();
                return vendor.Setting(config::keys::kIsLogin) == u"1" && log.contains("GetFilePath");
            },
            30000));
        QVERIFY2(log.contains("Downloads/mark_red.zip"), log.constData()); // the page asked for its packs
        QVERIFY(m_vendor.AccessLog().contains(QStringLiteral("GET /api/packs ")));
        QCOMPARE(QFileInfo(vendor.Config()).permissions()
                     & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        StopProcess(vendor.process);

        PointAt(m_attacker);
        ProgramCopy refused;
        QVERIFY(refused.Start(home.path()));
        log.clear();
        QVERIFY(QTest::qWaitFor(
            [&] {
                log += refused.process.readAllStandardError();
                return log.contains("CertificateErrorDomain") && log.contains("service certificate refused");
            },
            30000));
        QTest::qWait(1500);
        log += refused.process.readAllStandardError();
        QVERIFY2(!log.contains("GetFilePath"), log.constData());
        QCOMPARE(refused.Setting(config::keys::kIsLogin), QStringLiteral("0"));
        QCOMPARE(m_attacker.AccessLog(), QString());
        StopProcess(refused.process);
    }
};

YFZS_TEST_CLASS(TlsTest)
#include "tls_test.moc"
