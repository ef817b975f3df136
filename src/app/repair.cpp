#include "repair.h"

#include "addresses.h"
#include "installjob.h"

void RepairGame(QWidget* owner)
{
    installdlg::InstallJob repair;
    repair.downloadUrl = config::addresses::RepairArchiveUrl();
    repair.repairFlag = true;
    repair.fileName = QStringLiteral("yxxf.zip");
    installdlg::RunInstallJob(repair, owner);
}
