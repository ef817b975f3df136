#include "widgets/settingsdialog.h"
#include "widgets/trayavailability.h"

#include "config/inifile.h"
#include "config/settingskeys.h"
#include "platform/autostart.h"
#include "widgets/dialogunits.h"
#include "widgets/gamefolderbrowser.h"
#include "widgets/pngbutton.h"
#include "widgets/pngresource.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

// Background 187 is 423 × 390; the title strip of it drags the captionless dialog.
const widgets::SkinnedWindow::Skin kSkin{
    .backgroundPng = 187, .size = {423, 390}, .cutCorners = true, .dragStrip = 30, .fontPixels = 12};
constexpr int kOkImage = 188;
constexpr int kCancelImage = 186;
constexpr int kCloseImage = 184;

} // namespace

CDialogSet::CDialogSet(QWidget* parent, const QString& configPath)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint)
    , widgets::SkinnedWindow(this, kSkin)
    , m_configPath(configPath)
{
    setWindowTitle(QString());
    CreateControls();
    OnInitDialog();
}

CDialogSet::~CDialogSet() = default;

QString CDialogSet::AutostartName()
{
    return QStringLiteral("YFZS");
}

QString CDialogSet::AutostartProgram()
{
    return config::GetExecutableDir() + QStringLiteral("YFZS"); // the program itself, not its data folder
}

void CDialogSet::CreateControls()
{
    auto place = [this](QWidget* widget, int control, int x, int y, int w, int h) {
        widget->setParent(this);
        widget->setGeometry(widgets::units::ToPixels(widgets::units::kDialogFont, QRect(x, y, w, h)));
        if (control)
            AddControl(control, widget);
        return widget;
    };
    auto group = [&](const QString& title, int x, int y, int w, int h) {
        place(new QGroupBox(title), 0, x, y, w, h);
    };
    auto label = [&](const QString& text, int x, int y, int w, int h) {
        place(new QLabel(text), 0, x, y, w, h);
    };
    // The labels beside them show the texts: a text of the button's own would be drawn over its
    // label. The box is at least as large as the mark the style draws, so the circle is whole.
    auto radio = [&](int control, const QString& text, int x, int y) {
        auto* button = new QRadioButton;
        button->setAccessibleName(text);
        place(button, control, x, y, 8, 10);
        const QSize mark = button->sizeHint();
        QRect box = button->geometry();
        box.setSize(box.size().expandedTo(mark));
        box.moveTop(box.top() - (box.height() - button->height()) / 2);
        button->setGeometry(box);
        return button;
    };
    auto push = [&](int control, const QString& text, int x, int y, int w, int h) {
        auto* button = new QPushButton(text);
        button->setAutoDefault(false);
        place(button, control, x, y, w, h);
        return button;
    };
    auto image = [&](PngButton*& button, int control, const QString& text, int x, int y, int w, int h) {
        button = new PngButton;
        button->setText(text);
        place(button, control, x, y, w, h);
    };

    // Template order, which is also the tab order.
    group(QStringLiteral("运行"), 7, 22, 265, 35);
    m_autostartBox = new QCheckBox;
    place(m_autostartBox, kAutostart, 44, 37, 8, 10);
    group(QStringLiteral("关闭主界面"), 7, 60, 265, 37);
    QRadioButton* hide = radio(kHideToTray, QStringLiteral("隐藏到托盘"), 44, 78);
    QRadioButton* exit = radio(kExitProgram, QStringLiteral("退出程序"), 117, 78);
    group(QStringLiteral("游戏目录"), 7, 141, 265, 74);
    label(QStringLiteral("官方服"), 21, 158, 25, 8);
    m_officialEdit = new QLineEdit;
    place(m_officialEdit, kOfficialFolder, 51, 156, 177, 14);
    QPushButton* browseOfficial = push(kBrowseOfficial, QStringLiteral("浏览"), 231, 156, 34, 14);
    image(m_ok, kOk, QStringLiteral("确定"), 65, 221, 26, 14);
    image(m_cancel, kCancel, QStringLiteral("取消"), 163, 221, 33, 14);
    group(QStringLiteral("更新设置"), 7, 100, 265, 37);
    QRadioButton* autoUpdate = radio(kAutoUpdate, QStringLiteral("自动更新"), 44, 118);
    QRadioButton* promptUpdate = radio(kPromptUpdate, QStringLiteral("提示更新"), 118, 118);
    label(QStringLiteral("体验服"), 21, 178, 25, 8);
    m_testEdit = new QLineEdit;
    place(m_testEdit, kTestFolder, 51, 176, 177, 14);
    QPushButton* browseTest = push(kBrowseTest, QStringLiteral("浏览"), 231, 176, 34, 14);
    QRadioButton* useOfficial = radio(kUseOfficial, QStringLiteral("官方服"), 52, 197);
    QRadioButton* useTest = radio(kUseTest, QStringLiteral("体验服"), 100, 197);
    label(QStringLiteral("开机自动启动"), 54, 37, 49, 8);
    label(QStringLiteral("目录切换"), 14, 197, 33, 8);
    label(QStringLiteral("隐藏到托盘"), 54, 79, 41, 8);
    label(QStringLiteral("自动更新"), 53, 118, 33, 8);
    label(QStringLiteral("退出程序"), 127, 79, 33, 8);
    label(QStringLiteral("提示更新"), 127, 118, 33, 8);
    label(QStringLiteral("官方服"), 61, 197, 25, 8);
    label(QStringLiteral("体验服"), 109, 197, 25, 8);
    image(m_close, kClose, QString(), 266, 1, 14, 14);
    // Without a tray "hide" would leave nothing to click; say why the choice does nothing now.
    if (!widgets::SystemTrayAvailable()) {
        auto* note = new QLabel(widgets::NoTrayExplanation());
        note->setWordWrap(true);
        place(note, 0, 163, 69, 106, 26)->setObjectName(QStringLiteral("noTrayNote"));
    }

    // The radios are only as large as their mark: their own texts stay hidden, the labels show.
    auto exclusive = [this](QAbstractButton* first, QAbstractButton* second) {
        auto* pair = new QButtonGroup(this);
        pair->addButton(first);
        pair->addButton(second);
    };
    exclusive(hide, exit);
    exclusive(autoUpdate, promptUpdate);
    exclusive(useOfficial, useTest);

    // Labels, group boxes and the four upper radios stand on the skin; the check box and the
    // installation radios keep the dialog's own opaque background.
    for (QWidget* opaque : std::initializer_list<QWidget*>{m_autostartBox, useOfficial, useTest})
        opaque->setAutoFillBackground(true);

    connect(m_autostartBox, &QCheckBox::clicked, this, &CDialogSet::OnAutostartClicked);
    connect(m_ok, &QPushButton::clicked, this, &CDialogSet::OnOK);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(browseOfficial, &QPushButton::clicked, this, [this] { OnBrowse(false); });
    connect(browseTest, &QPushButton::clicked, this, [this] { OnBrowse(true); });
}

void CDialogSet::OnInitDialog()
{
    UpdateData(false);

    m_ok->SetImage(LoadPngResource(kOkImage));
    m_cancel->SetImage(LoadPngResource(kCancelImage));
    m_close->SetImage(LoadPngResource(kCloseImage));
    m_close->setGeometry(400, 10, 20, 20);

    const QString system = config::keys::kSystem;
    if (ReadIniString(m_configPath, system, config::keys::kAutostart, QString(), 20) == u"1")
        m_autostart = 1;
    auto isOne = [&](QLatin1String key) { return ReadIniString(m_configPath, system, key) == u"1"; };
    Control<QAbstractButton>(isOne(config::keys::kExit) ? kHideToTray : kExitProgram)->setChecked(true);
    Control<QAbstractButton>(isOne(config::keys::kAutoUpdate) ? kAutoUpdate : kPromptUpdate)
        ->setChecked(true);
    Control<QAbstractButton>(isOne(config::keys::kRun) ? kUseTest : kUseOfficial)->setChecked(true);
    m_officialFolder = ReadIniString(m_configPath, config::keys::kCfInfo, config::keys::kFolder, QString(),
                                     255);
    m_testFolder = ReadIniString(m_configPath, config::keys::kCfInfo, config::keys::kFolderTyf, QString(),
                                 255);
    UpdateData(false);
}

void CDialogSet::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_autostart = m_autostartBox->isChecked() ? 1 : 0;
        m_officialFolder = ShownFolder(m_officialEdit);
        m_testFolder = ShownFolder(m_testEdit);
    } else {
        m_autostartBox->setChecked(m_autostart == 1);
        ShowFolder(m_officialEdit, m_officialFolder);
        ShowFolder(m_testEdit, m_testFolder);
    }
}

void CDialogSet::ShowFolder(QLineEdit* edit, const QString& folder)
{
    // Shortened in the middle: the start tells the drive, the end the game folder's own name.
    const int room = edit->contentsRect().width() - 8;
    const QString shown = room > 0 ? edit->fontMetrics().elidedText(folder, Qt::ElideMiddle, room) : folder;
    edit->setText(shown);
    edit->setCursorPosition(0);
    edit->setToolTip(folder);
    edit->setProperty("fullFolder", folder);
    edit->setProperty("shownFolder", shown);
}

QString CDialogSet::ShownFolder(const QLineEdit* edit)
{
    // Text the user typed is taken as typed; the shortened display stands for the whole path.
    if (edit->text() == edit->property("shownFolder").toString())
        return edit->property("fullFolder").toString();
    return edit->text();
}

bool CDialogSet::IsChecked(int control) const
{
    return Control<QAbstractButton>(control)->isChecked();
}

void CDialogSet::OnOK()
{
    UpdateData(true);
    const QString system = config::keys::kSystem;
    if (m_autostart == 1) {
        platform::SetAutostart(AutostartName(), AutostartProgram());
        WriteIniString(m_configPath, system, config::keys::kAutostart, QStringLiteral("1"));
    } else {
        platform::RemoveAutostart(AutostartName());
        WriteIniString(m_configPath, system, config::keys::kAutostart, QStringLiteral("0"));
    }
    auto flag = [](bool one) { return one ? QStringLiteral("1") : QStringLiteral("0"); };
    WriteIniString(m_configPath, system, config::keys::kExit, flag(!IsChecked(kExitProgram)));
    WriteIniString(m_configPath, system, config::keys::kAutoUpdate, flag(!IsChecked(kPromptUpdate)));
    WriteIniString(m_configPath, system, config::keys::kRun, flag(IsChecked(kUseTest)));
    // The folder edits are not written: folders change only through the browse buttons.
    accept();
}

void CDialogSet::OnAutostartClicked()
{
    if (m_autostart == 1) {
        m_autostart = 0;
        platform::RemoveAutostart(AutostartName());
    } else {
        m_autostart = 1;
        platform::SetAutostart(AutostartName(), AutostartProgram());
    }
}

void CDialogSet::OnBrowse(bool testServer)
{
    QString chosen;
    const bool stored = BrowseGameFolder(this,
                                         testServer ? config::GameFolderVariant::SettingsTestServer
                                                    : config::GameFolderVariant::SettingsOfficial,
                                         m_configPath, &chosen);
    // Any choice puts the members back into the controls, dropping text typed into the edits.
    if (!chosen.isEmpty())
        UpdateData(false);
    if (!stored)
        return;
    (testServer ? m_testFolder : m_officialFolder) = chosen;
    UpdateData(false);
}

void CDialogSet::keyPressEvent(QKeyEvent* event)
{
    // Enter confirms like the OK button; Escape cancels (the dialog's own handling).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}
