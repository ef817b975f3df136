#pragma once
// CDialogSet: the settings dialog. Start with the desktop session, what the main window's close
// button does, how updates are handled, which game installation is in use, and the two game
// folders (shown here, chosen through the browse buttons). It reads config.ini afresh when it
// opens and writes it on OK only; the autostart entry follows the check box at every click.

#include "config/programdir.h"
#include "widgets/skinnedwindow.h"

#include <QDialog>
#include <QString>

class PngButton;
class QAbstractButton;
class QCheckBox;
class QLineEdit;

class CDialogSet : public QDialog, public widgets::SkinnedWindow
{
    Q_OBJECT

public:
    // Control ids of the dialog template; GetDlgItem and Control<T> find the controls by them.
    enum ControlId {
        kAutostart = 1019,
        kHideToTray = 1020,
        kExitProgram = 1021,
        kOfficialFolder = 1025,
        kBrowseOfficial = 1026,
        kOk = 1027,
        kCancel = 1028,
        kAutoUpdate = 1029,
        kPromptUpdate = 1030,
        kTestFolder = 1031,
        kBrowseTest = 1032,
        kUseOfficial = 1035,
        kUseTest = 1036,
        kClose = 1037,
    };

    // `configPath` is the settings file read and written; the program's own by default.
    explicit CDialogSet(QWidget* parent = nullptr, const QString& configPath = config::GetConfigPath());
    ~CDialogSet() override;

    // The name of the autostart entry and the program file it starts, in the program directory.
    static QString AutostartName();
    static QString AutostartProgram();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();
    // Members to controls (false) or controls to members (true), for the check box and edits.
    void UpdateData(bool saveAndValidate);
    void OnOK();
    void OnAutostartClicked();
    void OnBrowse(bool testServer);
    bool IsChecked(int id) const;
    // A game folder in its edit, shortened to fit; and the folder an edit stands for.
    static void ShowFolder(QLineEdit* edit, const QString& folder);
    static QString ShownFolder(const QLineEdit* edit);

    QString m_configPath;
    int m_autostart = 0;
    QString m_officialFolder;
    QString m_testFolder;

    QCheckBox* m_autostartBox = nullptr;
    QLineEdit* m_officialEdit = nullptr;
    QLineEdit* m_testEdit = nullptr;
    PngButton* m_ok = nullptr;
    PngButton* m_cancel = nullptr;
    PngButton* m_close = nullptr;
};
