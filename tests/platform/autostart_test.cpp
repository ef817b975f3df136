#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "platform/autostart.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

class AutostartTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    std::unique_ptr<EnvGuard> m_env;

    static QString entryText(const QString& name)
    {
        return QString::fromUtf8(readFile(platform::AutostartEntryPath(name)));
    }

private slots:
    void initTestCase()
    {
        m_env = std::make_unique<EnvGuard>();
        m_env->Keep("XDG_CONFIG_HOME");
        m_env->Set("HOME", m_home.path().toUtf8());
    }

    void cleanupTestCase() { m_env.reset(); }

    void entryFollowsTheConfigHome()
    {
        m_env->Unset("XDG_CONFIG_HOME");
        QCOMPARE(platform::AutostartEntryPath(u"YFZS"_qs),
                 m_home.path() + u"/.config/autostart/YFZS.desktop"_qs);
        m_env->Set("XDG_CONFIG_HOME", "relative/ignored");
        QCOMPARE(platform::AutostartEntryPath(u"YFZS"_qs),
                 m_home.path() + u"/.config/autostart/YFZS.desktop"_qs);
        m_env->Set("XDG_CONFIG_HOME", (m_home.path() + u"/xdg"_qs).toUtf8());
        QCOMPARE(platform::AutostartEntryPath(u"YFZS"_qs), m_home.path() + u"/xdg/autostart/YFZS.desktop"_qs);
    }

    void setAndRemove()
    {
        m_env->Set("XDG_CONFIG_HOME", (m_home.path() + u"/xdg"_qs).toUtf8());
        QVERIFY(!platform::HasAutostart(u"YFZS"_qs));
        QVERIFY(platform::RemoveAutostart(u"YFZS"_qs)); // nothing there is fine
        QVERIFY(platform::SetAutostart(u"YFZS"_qs, u"/opt/yfzs/YFZS"_qs));
        QVERIFY(platform::HasAutostart(u"YFZS"_qs));
        const QString text = entryText(u"YFZS"_qs);
        QVERIFY(text.startsWith(u"[Desktop Entry]\n"_qs));
        QVERIFY(text.contains(u"\nType=Application\n"_qs));
        QVERIFY(text.contains(u"\nName=YFZS\n"_qs));
        QVERIFY(text.contains(u"\nExec=/opt/yfzs/YFZS\n"_qs));
        QVERIFY(text.contains(u"\nTryExec=/opt/yfzs/YFZS\n"_qs));
        QVERIFY(platform::RemoveAutostart(u"YFZS"_qs));
        QVERIFY(!platform::HasAutostart(u"YFZS"_qs));
    }

    void execQuoting()
    {
        // Quoted for the Exec rules (\" \` \$ \\ inside quotes, %% for a percent), then the
        // value's own escaping doubles every backslash.
        QVERIFY(platform::SetAutostart(u"YFZS"_qs, u"/home/me/云帆 100%/a\"b$c\\d/YFZS"_qs));
        QVERIFY(entryText(u"YFZS"_qs)
                    .contains(u"\nExec=\"/home/me/云帆 100%%/a\\\\\"b\\\\$c\\\\\\\\d/YFZS\"\n"_qs));
        // TryExec names the file itself: no quoting, only the value's escapes.
        QVERIFY(entryText(u"YFZS"_qs).contains(u"\nTryExec=/home/me/云帆 100%/a\"b$c\\\\d/YFZS\n"_qs));
        QVERIFY(platform::RemoveAutostart(u"YFZS"_qs));
    }
};

YFZS_TEST_CLASS(AutostartTest)
#include "autostart_test.moc"
