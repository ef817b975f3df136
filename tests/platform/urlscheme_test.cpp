#include "testenv.h"
#include "testfiles.h"
#include "testrunner.h"

#include "platform/urlscheme.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class UrlSchemeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_xdg;
    std::unique_ptr<EnvGuard> m_env;

    QByteArray read(const QString& relative) const { return readFile(m_xdg.filePath(relative)); }

private slots:
    void initTestCase()
    {
        m_env = std::make_unique<EnvGuard>();
        m_env->Set("XDG_DATA_HOME", QFile::encodeName(m_xdg.filePath(u"data"_qs)));
        m_env->Set("XDG_CONFIG_HOME", QFile::encodeName(m_xdg.filePath(u"config"_qs)));
        m_env->Keep("XDG_DATA_DIRS");
    }
    void cleanupTestCase() { m_env.reset(); }

    void registersAndFollowsAMovedProgram()
    {
        const QString scheme = u"vederu77"_qs;
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme), QString());

        platform::RegisterUrlScheme(scheme, u"/opt/yfzs/YFZS"_qs, u"QX77 云帆助手"_qs);
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme), u"\"/opt/yfzs/YFZS\" %u"_qs);
        const QByteArray entry = read(u"data/applications/yfzs-vederu77.desktop"_qs);
        QVERIFY(entry.contains("MimeType=x-scheme-handler/vederu77;\n"));
        QVERIFY(entry.contains("Name=QX77 \xe4\xba\x91\xe5\xb8\x86\xe5\x8a\xa9\xe6\x89\x8b\n"));
        QVERIFY(read(u"config/mimeapps.list"_qs)
                    .contains("[Default Applications]\nx-scheme-handler/vederu77=yfzs-vederu77.desktop;"));

        // A moved program (with characters the Exec key must escape) registers itself again.
        platform::RegisterUrlScheme(scheme, u"/home/u/my \"games\"/$YFZS"_qs, u"QX77"_qs);
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme),
                 u"\"/home/u/my \\\\\"games\\\\\"/\\\\$YFZS\" %u"_qs);
    }

    void keepsOtherDefaultApplications()
    {
        QVERIFY(writeFile(m_xdg.filePath(u"config/mimeapps.list"_qs),
                          "[Added Associations]\ntext/plain=editor.desktop;\n\n[Default Applications]\n"
                          "text/html=browser.desktop;\nx-scheme-handler/vederu77=other.desktop;\n"));
        platform::RegisterUrlScheme(u"vederu77"_qs, u"/x/YFZS"_qs, u"QX77"_qs);
        QCOMPARE(
            read(u"config/mimeapps.list"_qs),
            QByteArray("[Added Associations]\ntext/plain=editor.desktop;\n\n[Default Applications]\n"
                       "text/html=browser.desktop;\nx-scheme-handler/vederu77=yfzs-vederu77.desktop;\n"));
    }

    // Installed from the package: its own launcher entry becomes the default, none is written.
    void packagedEntryIsUsedInsteadOfASecondOne()
    {
        const QString share = m_xdg.filePath(u"usr/share"_qs);
        const QString exe = m_xdg.filePath(u"usr/bin/YFZS"_qs);
        const QString other = m_xdg.filePath(u"opt/YFZS"_qs);
        QVERIFY(writeFile(exe, QByteArray()) && writeFile(other, QByteArray()));
        auto writeEntry = [&](const QByteArray& exec, const QByteArray& mime) {
            QVERIFY(writeFile(share + u"/applications/YFZS.desktop"_qs,
                              "[Desktop Entry]\nType=Application\nName=x\nExec=" + exec + "\nMimeType=" + mime
                                  + "\n"));
        };
        m_env->Set("XDG_DATA_DIRS", QFile::encodeName(m_xdg.filePath(u"none"_qs) + u':' + share));
        const QString scheme = u"vederu77"_qs;
        QCOMPARE(platform::DesktopFileId(), u"YFZS"_qs);
        QFile::remove(m_xdg.filePath(u"data/applications/yfzs-vederu77.desktop"_qs)); // earlier cases'

        // Named by the package's bin/ beside share/, and by an absolute path.
        for (const QByteArray& exec : {QByteArray("YFZS %u"), QFile::encodeName(exe) + " %u"}) {
            writeEntry(exec, "x-scheme-handler/vederu77;");
            QFile::remove(m_xdg.filePath(u"config/mimeapps.list"_qs));
            platform::RegisterUrlScheme(scheme, exe, u"QX77"_qs);
            QCOMPARE(platform::UrlSchemeDefaultEntry(scheme), u"YFZS.desktop"_qs);
            QVERIFY(!QFile::exists(m_xdg.filePath(u"data/applications/yfzs-vederu77.desktop"_qs)));
        }
        // Another copy of the program, or an entry without the scheme: the per-user entry as before.
        platform::RegisterUrlScheme(scheme, other, u"QX77"_qs);
        QCOMPARE(platform::UrlSchemeDefaultEntry(scheme), u"yfzs-vederu77.desktop"_qs);
        writeEntry("YFZS %u", "text/plain;");
        platform::RegisterUrlScheme(scheme, exe, u"QX77"_qs);
        QCOMPARE(platform::UrlSchemeDefaultEntry(scheme), u"yfzs-vederu77.desktop"_qs);
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme), u'"' + exe + u"\" %u"_qs);
    }
};

YFZS_TEST_CLASS(UrlSchemeTest)
#include "urlscheme_test.moc"
