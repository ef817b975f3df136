#include "service/updatecheck.h"

#include "config/inifile.h"
#include "config/programdir.h"
#include "config/settingskeys.h"
#include "service/connection.h"
#include "service/identity.h"
#include "service/message.h"
#include "service/servicelog.h"
#include "service/serviceui.h"
#include "service/uirelay.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace service {

void CheckUpdate(UiRelay& ui, bool manual)
{
    ServiceConnection connection;
    if (!connection.ConnectServer([&](const QString& text) { ui.Message(text); })) {
        ui.Message(QStringLiteral("无法连接通讯服务器!"));
        return;
    }
    const QString mac = GetMacAddress();
    const QString ip = GetLocalIp();
    const QString config = config::GetConfigPath();
    const QString serTime = ReadIniString(config, config::keys::kYfzsVer, config::keys::kSerTime, QString(),
                                          120);
    const QString version = ReadIniString(config, config::keys::kYfzsVer, config::keys::kVersion, QString(),
                                          120);

    const auto reply = connection.Exchange(
        BuildRequest(kUpdateCheckCode, {mac, ip, serTime, version}, LengthUnit::Utf16Units));
    if (!reply) {
        // The connection has logged why; a player who asked is owed an answer.
        if (manual)
            ui.Message(QStringLiteral("检查更新失败：服务器没有回应，请稍后再试。"));
        return;
    }
    QStringList fields;
    SplitString(*reply, kSeparator, fields);

    if (fields.size() < 7 || fields.at(3) != u"1") {
        if (manual)
            ui.Message(QStringLiteral("当前已经是最新版本!"));
        return;
    }

    // The updater reads what it installs from update.ini: when that cannot be written, it would
    // work from old or half-new data, so no update is offered or started at all.
    const QString updateIni = GetProgramDir() + config::keys::kUpdateFile;
    const std::pair<QString, QString> entries[] = {{config::keys::kVersion, fields.at(5)},
                                                   {config::keys::kSerTime, fields.at(4)},
                                                   {config::keys::kClientAdd, fields.at(6)}};
    for (const auto& [key, value] : entries) {
        if (!WriteIniString(updateIni, config::keys::kYfzsVer, key, value)) {
            qCWarning(lcService).noquote() << "new version" << fields.at(5) << "not offered:" << key
                                           << "could not be written to" << updateIni;
            if (manual)
                ui.Message(QStringLiteral("检查更新失败：无法保存新版本的信息到 %1。").arg(updateIni));
            return;
        }
    }

    // A system install belongs to the package manager; no updater of ours replaces its files.
    if (config::IsSystemInstall()) {
        // The package adds no software source of its own: apt cannot find the new version, so
        // the player is sent to where the new package is published.
        const QString from = fields.at(6).isEmpty() ? QStringLiteral("官网") : fields.at(6);
        ui.Message(QStringLiteral("发现服务器有新版本 %1。\n本程序由系统的软件包管理器安装，"
                                  "请从 %2 下载新版本的安装包，再用软件包管理器安装它"
                                  "（例如 sudo apt install ./下载的安装包.deb）。")
                       .arg(fields.at(5), from));
        return;
    }

    // The updater is looked for where the process runs, not in the program directory.
    const QString updater = QDir::current().absoluteFilePath(QStringLiteral("update.exe"));
    const QString autoUpdate = ReadIniString(config, config::keys::kSystem, config::keys::kAutoUpdate,
                                             QString(), 20);
    if (autoUpdate != u"1") {
        if (!ui.Ask(QStringLiteral("发现服务器有新版本，是否升级？")))
            return;
        if (!QFileInfo::exists(updater)
            && !ui.Message(QStringLiteral("客户端缺少文件，更新终止。请到官网重新下载!")))
            return;
    }
    ui.Run([&](ServiceUi& window) {
        window.StartProgram(updater);
        window.Quit();
    });
}

} // namespace service

void UpdateThreadProc(service::UiRelay& ui)
{
    service::CheckUpdate(ui, false);
}
