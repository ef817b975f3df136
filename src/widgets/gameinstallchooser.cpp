#include "widgets/gameinstallchooser.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QQueue>
#include <QVBoxLayout>

namespace widgets {

namespace {

QQueue<int> nextChoices; // answers queued by tests; user-interface thread only

} // namespace

InstallChoice ChooseGameInstall(QWidget* owner, const QString& title,
                                const QList<config::GameInstall>& installs)
{
    if (!nextChoices.isEmpty()) {
        const int answer = nextChoices.dequeue();
        if (answer >= 0 && answer < installs.size())
            return {InstallChoice::Chosen, installs[answer].folder};
        return {answer == -1 ? InstallChoice::Browse : InstallChoice::Cancelled, QString()};
    }

    QDialog dialog(owner);
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    for (const config::GameInstall& install : installs)
        list->addItem(install.label + QStringLiteral("\n    ") + QDir::toNativeSeparators(install.folder));
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    QPushButton* browse = buttons->addButton(QStringLiteral("浏览…"), QDialogButtonBox::ActionRole);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    bool browseChosen = false;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        browseChosen = true;
        dialog.accept();
    });
    dialog.resize(480, 240);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    if (browseChosen || list->currentRow() < 0)
        return {InstallChoice::Browse, QString()};
    return {InstallChoice::Chosen, installs[list->currentRow()].folder};
}

void SetNextInstallChoice(int answer)
{
    nextChoices.enqueue(answer);
}

} // namespace widgets
