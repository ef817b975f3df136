#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "config/inifile.h"
#include "config/programdir.h"
#include "platform/autostart.h"
#include "widgets/gamefolderbrowser.h"
#include "widgets/messagebox.h"
#include "widgets/settingsdialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

void sendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButtons buttons)
{
    const QPointF global = widget->mapToGlobal(QPointF(local));
    QMouseEvent event(type, QPointF(local), global, Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class SettingsDialogTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<EnvGuard> m_env;

    QString config() const { return m_dir.filePath(u"program/config.ini"_qs); }
    QString entry() const { return platform::AutostartEntryPath(u"YFZS"_qs); }
    QString value(const QString& key, const QString& section = u"system"_qs) const
    {
        return ReadIniString(config(), section, key, u"<none>"_qs);
    }

    std::unique_ptr<CDialogSet> open()
    {
        auto dialog = std::make_unique<CDialogSet>(nullptr, config());
        dialog->show();
        return dialog;
    }
    static QAbstractButton* button(const CDialogSet& dialog, int id)
    {
        return qobject_cast<QAbstractButton*>(dialog.GetDlgItem(id));
    }
    static QLineEdit* edit(const CDialogSet& dialog, int id)
    {
        return qobject_cast<QLineEdit*>(dialog.GetDlgItem(id));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(m_dir.filePath(u"program"_qs)));
        QVERIFY(QDir().mkpath(m_dir.filePath(u"game"_qs)));
        QVERIFY(writeFile(m_dir.filePath(u"game/QQLogin.exe"_qs), "MZ"));
        m_env = std::make_unique<EnvGuard>();
        m_env->Set("HOME", m_dir.path().toUtf8());
        m_env->Set("XDG_CONFIG_HOME", m_dir.filePath(u"xdg"_qs).toUtf8());
    }

    void cleanupTestCase() { m_env.reset(); }

    void init()
    {
        QFile::remove(config());
        platform::RemoveAutostart(u"YFZS"_qs);
    }

    void defaultsWithoutConfig()
    {
        auto dialog = open();
        QCOMPARE(dialog->size(), QSize(423, 390));
        QVERIFY(!button(*dialog, 1019)->isChecked());
        for (int id : {1021, 1030, 1035})
            QVERIFY2(button(*dialog, id)->isChecked(), qPrintable(QString::number(id)));
        for (int id : {1020, 1029, 1036})
            QVERIFY(!button(*dialog, id)->isChecked());
        QVERIFY(edit(*dialog, 1025)->text().isEmpty());
        QVERIFY(edit(*dialog, 1031)->text().isEmpty());
        QVERIFY(!QFile::exists(config()));
    }

    void storedValuesAreShown()
    {
        QVERIFY(WriteIniString(config(), u"system"_qs, u"autostart"_qs, u"1"_qs));
        QVERIFY(WriteIniString(config(), u"system"_qs, u"exit"_qs, u"1"_qs));
        QVERIFY(WriteIniString(config(), u"system"_qs, u"autoupdate"_qs, u"1"_qs));
        QVERIFY(WriteIniString(config(), u"system"_qs, u"run"_qs, u"1"_qs));
        QVERIFY(WriteIniString(config(), u"CF Info"_qs, u"FOLDER"_qs, u"/games/官方服"_qs));
        QVERIFY(WriteIniString(config(), u"CF Info"_qs, u"FOLDER_TYF"_qs, u"/games/体验服"_qs));
        auto dialog = open();
        for (int id : {1019, 1020, 1029, 1036})
            QVERIFY2(button(*dialog, id)->isChecked(), qPrintable(QString::number(id)));
        QCOMPARE(edit(*dialog, 1025)->text(), u"/games/官方服"_qs);
        QCOMPARE(edit(*dialog, 1031)->text(), u"/games/体验服"_qs);

        // Anything but "1" reads as the other choice.
        QVERIFY(WriteIniString(config(), u"system"_qs, u"exit"_qs, u"yes"_qs));
        QVERIFY(WriteIniString(config(), u"system"_qs, u"autostart"_qs, u"1 "_qs + QString(20, u'x')));
        dialog = open();
        QVERIFY(button(*dialog, 1021)->isChecked());
        QVERIFY(!button(*dialog, 1019)->isChecked());
    }

    void autostartFollowsEveryClickConfigOnlyOk()
    {
        QVERIFY(writeFile(config(), "[system]\r\nautostart=0\r\n"));
        const QByteArray before = readFile(config());

        // Checked, then cancelled: the entry stays, config.ini is untouched.
        auto dialog = open();
        button(*dialog, 1019)->click();
        QVERIFY(QFile::exists(entry()));
        QVERIFY(readFile(entry()).contains("\nExec=" + QFile::encodeName(GetProgramDir()) + "YFZS\n"));
        button(*dialog, 1028)->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(QFile::exists(entry()));
        QCOMPARE(readFile(config()), before);

        // The box shows config.ini, not the entry; the close glyph cancels the same way.
        dialog = open();
        QVERIFY(!button(*dialog, 1019)->isChecked());
        button(*dialog, 1019)->click();
        QVERIFY(QFile::exists(entry()));
        button(*dialog, 1019)->click(); // cleared: the entry goes at once
        QVERIFY(!QFile::exists(entry()));
        button(*dialog, 1037)->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(readFile(config()), before);

        // Two clicks and OK: no entry, autostart "0".
        platform::SetAutostart(u"YFZS"_qs, u"/elsewhere/YFZS"_qs);
        dialog = open();
        button(*dialog, 1019)->click();
        button(*dialog, 1019)->click();
        button(*dialog, 1027)->click();
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(!QFile::exists(entry()));
        QCOMPARE(value(u"autostart"_qs), u"0"_qs);

        // One click and OK: the entry and "1".
        dialog = open();
        button(*dialog, 1019)->click();
        button(*dialog, 1027)->click();
        QVERIFY(QFile::exists(entry()));
        QCOMPARE(value(u"autostart"_qs), u"1"_qs);
    }

    void radiosWrittenOnOk()
    {
        auto dialog = open();
        button(*dialog, 1020)->click();
        button(*dialog, 1029)->click();
        button(*dialog, 1036)->click();
        button(*dialog, 1027)->click();
        QCOMPARE(value(u"exit"_qs), u"1"_qs);
        QCOMPARE(value(u"autoupdate"_qs), u"1"_qs);
        QCOMPARE(value(u"run"_qs), u"1"_qs);
        QCOMPARE(value(u"autostart"_qs), u"0"_qs);

        dialog = open();
        QVERIFY(button(*dialog, 1020)->isChecked());
        button(*dialog, 1021)->click();
        button(*dialog, 1030)->click();
        button(*dialog, 1035)->click();
        QTest::keyClick(dialog.get(), Qt::Key_Return); // Enter confirms like OK
        QVERIFY(!dialog->isVisible());
        QCOMPARE(value(u"exit"_qs), u"0"_qs);
        QCOMPARE(value(u"autoupdate"_qs), u"0"_qs);
        QCOMPARE(value(u"run"_qs), u"0"_qs);

        // Escape writes nothing.
        const QByteArray before = readFile(config());
        dialog = open();
        button(*dialog, 1020)->click();
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(readFile(config()), before);
    }

    void foldersChangeOnlyThroughBrowsing()
    {
        QVERIFY(WriteIniString(config(), u"CF Info"_qs, u"FOLDER"_qs, u"/stored"_qs));
        auto dialog = open();
        edit(*dialog, 1025)->setText(u"/typed/by/hand"_qs);
        button(*dialog, 1027)->click();
        QCOMPARE(value(u"FOLDER"_qs, u"CF Info"_qs), u"/stored"_qs);
        QCOMPARE(value(u"FOLDER_TYF"_qs, u"CF Info"_qs), u"<none>"_qs);

        dialog = open();
        const QString game = m_dir.filePath(u"game"_qs);
        // Cancelled: the message, typed text kept.
        edit(*dialog, 1031)->setText(u"typed"_qs);
        widgets::SetNextBrowsedFolder(QString());
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        button(*dialog, 1032)->click();
        QCOMPARE(edit(*dialog, 1031)->text(), u"typed"_qs);
        // A folder without the marker: the message, and the edits show the members again.
        widgets::SetNextBrowsedFolder(m_dir.filePath(u"program"_qs));
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        button(*dialog, 1032)->click();
        QCOMPARE(edit(*dialog, 1031)->text(), QString());
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(),
                 QStringList({u"未指定<体验服>目录。"_qs,
                              u"没有找到QQLogin.exe，非 穿越火线<体验服> 游戏目录。"_qs}));
        // With the marker: stored at once and shown.
        widgets::SetNextBrowsedFolder(game);
        button(*dialog, 1032)->click();
        QCOMPARE(edit(*dialog, 1031)->text(), game);
        QCOMPARE(value(u"FOLDER_TYF"_qs, u"CF Info"_qs), game);
        widgets::SetNextBrowsedFolder(game);
        button(*dialog, 1026)->click();
        QCOMPARE(edit(*dialog, 1025)->text(), game);
        QCOMPARE(value(u"FOLDER"_qs, u"CF Info"_qs), game);
        QCOMPARE(
            widgets::TakeBrowsedTitles(),
            QStringList({u"请选择 穿越火线<体验服> 游戏目录："_qs, u"请选择 穿越火线<体验服> 游戏目录："_qs,
                         u"请选择 穿越火线<体验服> 游戏目录："_qs, u"请选择 穿越火线<官方服> 目录："_qs}));
        // Cancel after browsing: the stored folder stays stored.
        button(*dialog, 1028)->click();
        QCOMPARE(value(u"FOLDER"_qs, u"CF Info"_qs), game);
    }

    // Each radio shows its whole circle and leaves its label free; a long folder keeps both
    // ends, the game folder's own name among them, and stands for the whole path.
    void radiosAndLongFoldersFit()
    {
        const QString deep =
            u"/home/player/.local/share/bottles/bottles/穿越火线/drive_c/Program Files (x86)/"_qs
            + QString(60, u'x') + u"/穿越火线正式服"_qs;
        QVERIFY(WriteIniString(config(), u"CF Info"_qs, u"FOLDER"_qs, deep));
        auto dialog = open();
        const QList<QLabel*> labels = dialog->findChildren<QLabel*>();
        for (int id : {1020, 1021, 1029, 1030, 1035, 1036}) {
            QAbstractButton* radio = button(*dialog, id);
            QVERIFY(radio->text().isEmpty());
            QVERIFY(radio->width() >= radio->sizeHint().width()
                    && radio->height() >= radio->sizeHint().height());
            for (const QLabel* label : labels)
                QVERIFY2(!label->geometry().intersects(radio->geometry()), qPrintable(label->text()));
        }
        QLineEdit* official = edit(*dialog, 1025);
        QVERIFY(official->text().size() < deep.size());
        QVERIFY(official->text().startsWith(u"/home/"_qs) && official->text().endsWith(u"穿越火线正式服"_qs));
        QCOMPARE(official->toolTip(), deep);
        button(*dialog, 1027)->click(); // OK: the setting keeps the whole folder
        QCOMPARE(value(u"FOLDER"_qs, u"CF Info"_qs), deep);
    }

    void skinLayoutAndDragStrip()
    {
        auto dialog = open();
        QCOMPARE(dialog->GetDlgItem(1037)->geometry(), QRect(400, 10, 20, 20));
        // Placed from dialog units: 1.5 pixels across, 1.625 down; image buttons sized by their frame.
        QCOMPARE(dialog->GetDlgItem(1025)->geometry(), QRect(77, 254, 266, 23));
        QCOMPARE(dialog->GetDlgItem(1027)->geometry(), QRect(98, 359, 49, 20));
        QCOMPARE(dialog->GetDlgItem(1019)->geometry(), QRect(66, 60, 12, 16));
        QVERIFY(dialog->GetDlgItem(1019)->autoFillBackground());
        QVERIFY(!dialog->GetDlgItem(1020)->autoFillBackground());

        // Corners cut by 3 pixels at the top and 4 at the bottom.
        const QRegion mask = dialog->mask();
        QVERIFY(!mask.contains(QPoint(0, 0)));
        QVERIFY(!mask.contains(QPoint(422, 1)));
        QVERIFY(!mask.contains(QPoint(1, 388)));
        QVERIFY(!mask.contains(QPoint(421, 388)));
        QVERIFY(mask.contains(QPoint(3, 3)));
        QVERIFY(mask.contains(QPoint(211, 195)));

        // Only the top 30 pixels drag the window.
        const QPoint start = dialog->pos();
        sendMouse(dialog.get(), QEvent::MouseButtonPress, {200, 40}, Qt::LeftButton);
        sendMouse(dialog.get(), QEvent::MouseMove, {260, 90}, Qt::LeftButton);
        sendMouse(dialog.get(), QEvent::MouseButtonRelease, {260, 90}, Qt::NoButton);
        QCOMPARE(dialog->pos(), start);
        sendMouse(dialog.get(), QEvent::MouseButtonPress, {200, 29}, Qt::LeftButton);
        sendMouse(dialog.get(), QEvent::MouseMove, {230, 69}, Qt::LeftButton);
        sendMouse(dialog.get(), QEvent::MouseButtonRelease, {230, 69}, Qt::NoButton);
        QCOMPARE(dialog->pos(), start + QPoint(30, 40));

        const QByteArray shots = qgetenv("YFZS_SCREENSHOT_DIR");
        if (!shots.isEmpty())
            QVERIFY(dialog->grab().save(QFile::decodeName(shots) + u"/settingsdialog.png"_qs));
    }
};

YFZS_TEST_CLASS(SettingsDialogTest)
#include "settingsdialog_test.moc"
