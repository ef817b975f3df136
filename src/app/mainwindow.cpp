#include "app/mainwindow.h"
#include "app/application.h"
#include "app/linkintake.h"
#include "app/loginarea.h"
#include "app/repair.h"
#include "app/tray.h"

#include "app/startuptrace.h"
#include "config/addresses.h"
#include "config/inifile.h"
#include "config/programdir.h"
#include "config/settingskeys.h"
#include "pagehost/htmlctrl.h"
#include "platform_gui/hotkey.h"
#include "platform_gui/windowactivation.h"
#include "service/serviceclient.h"
#include "widgets/aboutdialog.h"
#include "widgets/dialogunits.h"
#include "widgets/messagebox.h"
#include "widgets/pngbutton.h"
#include "widgets/pngresource.h"
#include "widgets/settingsdialog.h"
#include "widgets/trayavailability.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QLoggingCategory>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>

#include <future>
#include <vector>

Q_LOGGING_CATEGORY(lcLink, "yfzs.link", QtInfoMsg)

namespace {

// Background 176 is 800 × 600; the window is dragged by its top 30 pixels.
const widgets::SkinnedWindow::Skin kSkin{
    .backgroundPng = 176, .size = {800, 600}, .cutCorners = true, .dragStrip = 30};
constexpr int kLinkTimerMs = 100;
// Start-up's last steps wait for the tool page to load, but no longer than this.
constexpr int kFinishInitLatestMs = 1500;

const QColor kLabelColour(63, 64, 65);
const QColor kEditGrey(190, 190, 190);
const QColor kEditEntered(10, 10, 10);

// The dialog template laid things out in dialog units of 1.75 pixels; the buttons start there
// and move to their run-time rectangles once their images are set.
constexpr widgets::units::Scale kTemplateScale{1.75, 1.75};

struct ButtonLayout
{
    int id;
    int png;
    QRect templateRect; // dialog units
    QRect runtimeRect;  // pixels
};

// In the order the buttons get their images and move.
const ButtonLayout kButtons[] = {
    {DEZIRUdu::IdMinimise, 177, {426, 0, 12, 11}, {756, 10, 20, 20}},
    {DEZIRUdu::IdClose, 184, {443, 0, 13, 11}, {778, 10, 20, 20}},
    {DEZIRUdu::IdRepair, 181, {184, 23, 20, 14}, {298, 36, 60, 55}},
    {DEZIRUdu::IdSettings, 182, {222, 23, 21, 14}, {378, 36, 60, 55}},
    {DEZIRUdu::IdUpdate, 183, {263, 23, 21, 14}, {458, 36, 60, 55}},
    {DEZIRUdu::IdLogin, 178, {414, 30, 19, 18}, {707, 47, 43, 43}},
    {DEZIRUdu::IdLogout, 179, {337, 2, 16, 14}, {751, 47, 43, 43}},
    {DEZIRUdu::IdRegister, 180, {435, 30, 19, 18}, {751, 47, 43, 43}},
    {DEZIRUdu::IdHelp, 189, {361, 0, 20, 14}, {734, 10, 20, 20}},
};

// Notes Caps Lock presses that reach any widget of the window, before the widget sees them.
class CapsLockWatcher : public QObject
{
public:
    CapsLockWatcher(QWidget* window, bool* flag)
        : QObject(window)
        , m_window(window)
        , m_flag(flag)
    {
        qApp->installEventFilter(this);
    }
    ~CapsLockWatcher() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_CapsLock
            && watched->isWidgetType()
            && (watched == m_window || m_window->isAncestorOf(static_cast<QWidget*>(watched))))
            *m_flag = true;
        return false;
    }

private:
    QWidget* m_window;
    bool* m_flag;
};

} // namespace

DEZIRUdu::DEZIRUdu(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
    , widgets::SkinnedWindow(this, kSkin)
{
    // The controls follow the tool page's navigation in OnInitDialog: the first widget with
    // text loads the font database, which the page need not wait for.
}

DEZIRUdu::~DEZIRUdu() = default;

QString DEZIRUdu::AccountPlaceholder()
{
    return QStringLiteral("请输入qx77通行证");
}

void DEZIRUdu::CreateControls()
{
    for (const ButtonLayout& layout : kButtons) {
        PngButton* button = AddControl(layout.id, new PngButton(this));
        button->setGeometry(widgets::units::ToPixels(kTemplateScale, layout.templateRect));
    }
    m_minimise = Control<PngButton>(IdMinimise);
    m_close = Control<PngButton>(IdClose);
    m_repair = Control<PngButton>(IdRepair);
    m_settings = Control<PngButton>(IdSettings);
    m_update = Control<PngButton>(IdUpdate);
    m_login = Control<PngButton>(IdLogin);
    m_logout = Control<PngButton>(IdLogout);
    m_register = Control<PngButton>(IdRegister);
    m_help = Control<PngButton>(IdHelp);

    m_login->setToolTip(QStringLiteral("登陆以后您可以收藏资源，并可以异地下载哦 :)"));
    m_register->setToolTip(QStringLiteral("快去注册账号吧，这样您就可以收藏资源啦 :)"));
    m_help->setToolTip(QStringLiteral("提交问题bug反馈"));

    m_accountEdit = AddControl(IdAccount, new QLineEdit(this));
    m_accountEdit->setGeometry(586, 47, 121, 21);
    m_passwordEdit = AddControl(IdPassword, new QLineEdit(this));
    m_passwordEdit->setGeometry(586, 70, 121, 21);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_accountEdit->installEventFilter(this);
    m_passwordEdit->installEventFilter(this);
    ApplyEditColours();

    auto addLabel = [this](int id, const QString& text, const QRect& rect) {
        auto* label = AddControl(id, new QLabel(text, this));
        label->setGeometry(rect);
        // Transparent: only the text is drawn, the skin shows behind it.
        label->setAutoFillBackground(false);
        label->setAttribute(Qt::WA_TranslucentBackground);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, kLabelColour);
        label->setPalette(palette);
        return label;
    };
    addLabel(IdAccountLabel, QStringLiteral("账号："), QRect(544, 51, 39, 14));
    addLabel(IdPasswordLabel, QStringLiteral("密码："), QRect(544, 75, 39, 14));
    m_welcome = addLabel(IdWelcome, QStringLiteral("Static"),
                         widgets::units::ToPixels(kTemplateScale, {313, 5, 19, 8}));

    connect(m_minimise, &QPushButton::clicked, this, &DEZIRUdu::OnMinimise);
    connect(m_close, &QPushButton::clicked, this, &DEZIRUdu::OnCloseButton);
    connect(m_repair, &QPushButton::clicked, this, &DEZIRUdu::OnRepair);
    connect(m_settings, &QPushButton::clicked, this, &DEZIRUdu::OnSettings);
    connect(m_update, &QPushButton::clicked, this, &DEZIRUdu::OnCheckUpdate);
    connect(m_login, &QPushButton::clicked, this, &DEZIRUdu::OnLogin);
    connect(m_logout, &QPushButton::clicked, this, &DEZIRUdu::OnLogout);
    connect(m_register, &QPushButton::clicked, this, &DEZIRUdu::OnRegister);
    connect(m_help, &QPushButton::clicked, this, &DEZIRUdu::OnHelp);
}

// The one place that decides which browser widget fills the body.
CHtmlCtrl* DEZIRUdu::CreateBrowserView()
{
    return new CHtmlCtrl(this);
}

int DEZIRUdu::DoModal()
{
    OnInitDialog();
    StartupMark("init dialog done, showing");
    return widgets::SkinnedWindow::DoModal();
}

bool DEZIRUdu::OnInitDialog()
{
    StartupMark("init dialog");
    // The buttons' strips and the icon are decoded on another core while the browser engine
    // starts here: the engine shares this thread, so time spent here before the page loads
    // delays it.
    struct Images
    {
        std::vector<QImage> buttons, icon;
    };
    std::future<Images> decoded = std::async(std::launch::async, [] {
        Images images;
        for (const ButtonLayout& layout : kButtons)
            images.buttons.push_back(LoadPngResource(layout.png));
        images.icon = widgets::LoadIconImages(160);
        return images;
    });
    // Window style: no caption, but the taskbar may minimise it.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowSystemMenuHint);
    // A later start finds this instance by the title.
    setWindowTitle(QString::fromUtf16(kMainWindowTitle));

    // The tool page first: the engine loads it in this thread's spare turns, so the rest of the
    // window is built while the page process starts, and what the window does not need in
    // order to appear waits for the page (FinishInit).
    m_browser = AddControl(IdBrowser, CreateBrowserView());
    m_browser->setGeometry(2, 100, 796, 498);
    m_browser->show();
    QWebEnginePage* page = m_browser->page();
    connect(page, &QWebEnginePage::loadStarted, this, [] { StartupMark("page load started"); });
    connect(page, &QWebEnginePage::loadFinished, this, [] { StartupMark("page load finished"); });
    connect(page, &QWebEnginePage::loadFinished, this, &DEZIRUdu::FinishInit, Qt::SingleShotConnection);
    m_browser->Navigate(config::addresses::ToolPageUrl());
    StartupMark("browser view navigating");

    CreateControls();
    // Built first, the view would come first in the focus chain; it follows the boxes.
    setTabOrder(m_passwordEdit, m_browser);
    // The controls exist now; show the still empty texts in them.
    UpdateData(false);
    StartupMark("controls");

    const Images images = decoded.get();
    setWindowIcon(widgets::IconFromImages(images.icon));
    // F11 anywhere on the desktop starts a login; without a key grab the button still works.
    m_hotKey = new platform::GlobalHotKey(Qt::Key_F11, this, QStringLiteral("QX77 云帆助手：登陆"));
    connect(m_hotKey, &platform::GlobalHotKey::Activated, this, &DEZIRUdu::OnHotKey);
    StartupMark("icon and hot key");

    for (size_t i = 0; i < std::size(kButtons); ++i) {
        auto* button = Control<PngButton>(kButtons[i].id);
        button->SetImage(images.buttons[i]);
        button->setGeometry(kButtons[i].runtimeRect);
    }

    m_welcome->hide();
    m_logout->hide();
    StartupMark("button images");

    m_tray = new TrayIcon(this);
    connect(m_tray, &TrayIcon::ExitConfirmed, this, [this] { EndDialog(-1); });
    connect(m_tray, &TrayIcon::AboutRequested, this, &DEZIRUdu::OnAbout);
    m_tray->Add();
    StartupMark("tray");

    // The window itself holds the focus at first, as the dialog's first button did: focus in
    // the account box would take its placeholder away before the user got there.
    setFocusPolicy(Qt::StrongFocus);
    setFocus();

    // Caps Lock presses anywhere in the window are noted for the password box's repaint.
    new CapsLockWatcher(this, &m_capsLock);

    // A page that neither loads nor fails soon holds up the update check no longer than this.
    QTimer::singleShot(kFinishInitLatestMs, this, &DEZIRUdu::FinishInit);
    return true;
}

void DEZIRUdu::FinishInit()
{
    // Whichever comes first, the page's load or the time limit; never once the run has ended.
    if (m_initFinished || IsEnded())
        return;
    m_initFinished = true;
    StartupMark("finish init");

    RegisterUrlProtocol();
    StartupMark("URL scheme");

    // A link on the first instance's command line is handled once the window is up.
    if (!ZARODAre::PendingLink().isEmpty()) {
        m_linkTimer = new QTimer(this);
        m_linkTimer->setSingleShot(true);
        m_linkTimer->setInterval(kLinkTimerMs);
        connect(m_linkTimer, &QTimer::timeout, this, &DEZIRUdu::OnTimer);
        m_linkTimer->start();
    }

    StartStartupWorker();
    StartupMark("start-up worker");
}

void DEZIRUdu::RegisterUrlProtocol()
{
    ::RegisterUrlProtocol();
}

void DEZIRUdu::StartStartupWorker()
{
    m_loginArea = std::make_unique<LoginArea>(*this);
    m_service = std::make_unique<service::ServiceClient>(*m_loginArea);
    m_service->StartStartupWorker();
}

void DEZIRUdu::OnTimer()
{
    m_linkTimer->stop();
    if (!ZARODAre::PendingLink().isEmpty())
        HandleLink(QString(ZARODAre::PendingLink()));
}

void DEZIRUdu::OnCopyData(const QString& link)
{
    HandleLink(link);
}

bool DEZIRUdu::HandleLink(const QString& link)
{
    qCInfo(lcLink).noquote() << "link:" << link;
    return ::HandleLink(link, this);
}

void DEZIRUdu::BringToFront(const QString& activationToken)
{
    // The native window outlives hiding, so the token can be on it before it is mapped again.
    winId();
    platform::PrepareActivation(windowHandle(), activationToken);
    // Out of the taskbar and the tray, but a window the page maximised stays maximised.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    platform::ActivateWindow(windowHandle(), activationToken);
}

void DEZIRUdu::RaiseForLink(const QString& activationToken)
{
    // Without a tray a hidden or minimised window has no other way back than a later start.
    if (isVisible() || !widgets::SystemTrayAvailable())
        BringToFront(activationToken);
}

CHtmlCtrl* DEZIRUdu::BrowserView() const
{
    return m_browser;
}

TrayIcon* DEZIRUdu::Tray() const
{
    return m_tray;
}

// ---- Texts and the account box -------------------------------------------------------------

void DEZIRUdu::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_account = m_accountEdit->text();
        m_password = m_passwordEdit->text();
    } else {
        m_accountEdit->setText(m_account);
        m_passwordEdit->setText(m_password);
    }
}

QString& DEZIRUdu::AccountText()
{
    return m_account;
}

QString& DEZIRUdu::PasswordText()
{
    return m_password;
}

bool DEZIRUdu::AccountEntered() const
{
    return m_accountEntered;
}

void DEZIRUdu::ApplyEditColours()
{
    for (QLineEdit* edit : {m_accountEdit, m_passwordEdit}) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, Qt::white);
        const bool entered = edit == m_accountEdit && m_accountEntered;
        palette.setColor(QPalette::Text, entered ? kEditEntered : kEditGrey);
        edit->setPalette(palette);
    }
}

void DEZIRUdu::OnAccountFocusIn()
{
    if (m_account == AccountPlaceholder()) {
        m_account.clear();
        UpdateData(false);
    }
    m_accountEntered = true;
    ApplyEditColours();
}

void DEZIRUdu::OnAccountFocusOut()
{
    UpdateData(true);
    if (m_account.isEmpty()) {
        m_accountEntered = false;
        m_account = AccountPlaceholder();
    } else {
        m_accountEntered = true;
    }
    UpdateData(false);
    ApplyEditColours();
}

void DEZIRUdu::OnPasswordFocusOut()
{
    // The Caps Lock warning some systems show under the password box can leave traces on the
    // page; hiding and showing the view repaints it.
    if (!m_capsLock || !m_browser)
        return;
    m_capsLock = false;
    m_browser->RepaintByHideShow();
}

bool DEZIRUdu::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        if (watched == m_accountEdit)
            OnAccountFocusIn();
        break;
    case QEvent::FocusOut:
        if (watched == m_accountEdit)
            OnAccountFocusOut();
        else if (watched == m_passwordEdit)
            OnPasswordFocusOut();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Ending and keys -----------------------------------------------------------------------

void DEZIRUdu::OnOK()
{
}

void DEZIRUdu::OnCancel()
{
    if (m_tray)
        m_tray->Remove();
    EndDialog(2);
}

void DEZIRUdu::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        OnCancel();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OnOK();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void DEZIRUdu::closeEvent(QCloseEvent* event)
{
    // The system Close command ends the program the same way Escape does.
    event->ignore();
    OnCancel();
}

// ---- Buttons -------------------------------------------------------------------------------

void DEZIRUdu::OnMinimise()
{
    // To the taskbar; the tray icon stays.
    showMinimized();
}

void DEZIRUdu::OnCloseButton()
{
    // Read at every click: the settings dialog may have changed it since.
    const QString exit = ReadIniString(config::GetConfigPath(), config::keys::kSystem, config::keys::kExit,
                                       {}, 10);
    if (exit == QLatin1String("1")) {
        if (m_tray)
            m_tray->HideToTray();
        else
            hide();
        return;
    }
    OnCancel();
}

void DEZIRUdu::OnHelp()
{
    // The "?" holds About too: on a desktop without a tray its menu is the only other way there.
    if (!m_helpMenu) {
        m_helpMenu = new QMenu(this);
        connect(m_helpMenu->addAction(m_help->toolTip()), &QAction::triggered, this, &DEZIRUdu::OpenHelpPage);
        connect(m_helpMenu->addAction(QStringLiteral("关于")), &QAction::triggered, this, &DEZIRUdu::OnAbout);
    }
    m_helpMenu->popup(m_help->mapToGlobal(QPoint(0, m_help->height())));
}

void DEZIRUdu::OpenHelpPage()
{
    const QString help = config::addresses::HelpPageUrl();
    if (!QDesktopServices::openUrl(QUrl(help)))
        widgets::msgbox::Show(QStringLiteral("无法打开网页浏览器。请在浏览器中打开：\n%1").arg(help),
                              widgets::msgbox::OkOnly, this);
}

void DEZIRUdu::OnLoginDone()
{
    if (m_browser)
        m_browser->Refresh();
}

void DEZIRUdu::OnHotKey()
{
    OnLogin();
}

void DEZIRUdu::OnLogin()
{
    if (m_service)
        m_service->OnLogin();
}

void DEZIRUdu::OnLogout()
{
    if (m_service)
        m_service->OnLogout();
}

void DEZIRUdu::OnRegister()
{
    if (m_service)
        m_service->OnRegister();
}

void DEZIRUdu::OnCheckUpdate()
{
    if (m_service)
        m_service->OnCheckUpdate();
}

void DEZIRUdu::OnRepair()
{
    RepairGame(this);
}

void DEZIRUdu::OnSettings()
{
    CDialogSet dialog(this);
    dialog.DoModal();
}

void DEZIRUdu::OnAbout()
{
    RAruzeVOVOzu dialog(this);
    dialog.DoModal();
}

void DEZIRUdu::ShowAccountPlaceholder()
{
    m_account = AccountPlaceholder();
    m_accountEntered = false;
    UpdateData(false);
    ApplyEditColours();
}
