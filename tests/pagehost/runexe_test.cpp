#include "pagefixture.h"
#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "pagehost/htmlctrl.h"
#include "platform/launcher.h"
#include "widgets/messagebox.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// RunExe tells a missing Wine apart from a wrong game folder.
class RunExeTest : public QObject
{
    Q_OBJECT

private slots:
    void missingWineIsNamedNotTheGameFolder()
    {
        PageFixture f;
        QTemporaryDir dir;
        const QString game = dir.filePath(QStringLiteral("CF/QQLogin.exe"));
        QVERIFY(writeFile(game, "MZ"));
        EnvGuard env;
        env.Set("PATH", QFile::encodeName(dir.path())); // no wine anywhere on it

        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        QVERIFY(!f.View()->RunExe(game));
        widgets::msgbox::SetNextAnswer(widgets::msgbox::Ok);
        QVERIFY(!f.View()->RunExe(dir.filePath(QStringLiteral("CF/missing.exe"))));
        QCOMPARE(widgets::msgbox::TakeAnsweredTexts(),
                 QStringList({platform::WineMissingMessage(), u"游戏运行失败，请检查游戏目录是否正确！"_qs}));
    }
};

YFZS_TEST_CLASS(RunExeTest)
#include "runexe_test.moc"
