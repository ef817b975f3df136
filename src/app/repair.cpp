#include "app/repair.h"

#include "config/addresses.h"
#include "installdlg/installjob.h"

void RepairGame(QWidget* owner)
{
    installdlg::InstallJob repair;
    repair.downloadUrl = config::addresses::RepairArchiveUrl();
    repair.repairFlag = true;
    repair.fileName = QStringLiteral("yxxf.zip");
    installdlg::RunInstallJob(repair, owner);
}
