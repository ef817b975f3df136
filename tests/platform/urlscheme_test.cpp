#include "testrunner.h"

#include "urlscheme.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class UrlSchemeTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_xdg;

    QByteArray read(const QString& relative) const
    {
        QFile f(m_xdg.filePath(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_xdg.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_xdg.filePath(QStringLiteral("config"))));
    }

    void registersAndFollowsAMovedProgram()
    {
        const QString scheme = QStringLiteral("vederu77");
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme), QString());

        platform::RegisterUrlScheme(scheme, QStringLiteral("/opt/yfzs/YFZS"),
                                    QStringLiteral("QX77 云帆助手"));
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme), QStringLiteral("\"/opt/yfzs/YFZS\" %u"));
        const QByteArray entry = read(QStringLiteral("data/applications/yfzs-vederu77.desktop"));
        QVERIFY(entry.contains("MimeType=x-scheme-handler/vederu77;\n"));
        QVERIFY(entry.contains("Name=QX77 \xe4\xba\x91\xe5\xb8\x86\xe5\x8a\xa9\xe6\x89\x8b\n"));
        QVERIFY(read(QStringLiteral("config/mimeapps.list"))
                    .contains("[Default Applications]\nx-scheme-handler/vederu77=yfzs-vederu77.desktop;"));

        // A moved program (with characters the Exec key must escape) registers itself again.
        platform::RegisterUrlScheme(scheme, QStringLiteral("/home/u/my \"games\"/$YFZS"),
                                    QStringLiteral("QX77"));
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme),
                 QStringLiteral("\"/home/u/my \\\\\"games\\\\\"/\\\\$YFZS\" %u"));
    }

    void keepsOtherDefaultApplications()
    {
        QDir().mkpath(m_xdg.filePath(QStringLiteral("config")));
        QFile f(m_xdg.filePath(QStringLiteral("config/mimeapps.list")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Added Associations]\ntext/plain=editor.desktop;\n\n[Default Applications]\n"
                "text/html=browser.desktop;\nx-scheme-handler/vederu77=other.desktop;\n");
        f.close();
        platform::RegisterUrlScheme(QStringLiteral("vederu77"), QStringLiteral("/x/YFZS"),
                                    QStringLiteral("QX77"));
        QCOMPARE(
            read(QStringLiteral("config/mimeapps.list")),
            QByteArray("[Added Associations]\ntext/plain=editor.desktop;\n\n[Default Applications]\n"
                       "text/html=browser.desktop;\nx-scheme-handler/vederu77=yfzs-vederu77.desktop;\n"));
    }

    // Installed from the package: its own launcher entry becomes the default, none is written.
    void packagedEntryIsUsedInsteadOfASecondOne()
    {
        const QString share = m_xdg.filePath(QStringLiteral("usr/share"));
        const QString exe = m_xdg.filePath(QStringLiteral("usr/bin/YFZS"));
        const QString other = m_xdg.filePath(QStringLiteral("opt/YFZS"));
        QVERIFY(QDir().mkpath(share + QStringLiteral("/applications"))
                && QDir().mkpath(m_xdg.filePath(QStringLiteral("usr/bin")))
                && QDir().mkpath(m_xdg.filePath(QStringLiteral("opt"))));
        for (const QString& program : {exe, other}) {
            QFile f(program);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        auto writeEntry = [&](const QByteArray& exec, const QByteArray& mime) {
            QFile f(share + QStringLiteral("/applications/YFZS.desktop"));
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("[Desktop Entry]\nType=Application\nName=x\nExec=" + exec + "\nMimeType=" + mime + "\n");
        };
        const QByteArray savedDirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_xdg.filePath(QStringLiteral("none")) + u':' + share));
        const QString scheme = QStringLiteral("vederu77");
        QCOMPARE(platform::DesktopFileId(), QStringLiteral("YFZS"));
        QFile::remove(
            m_xdg.filePath(QStringLiteral("data/applications/yfzs-vederu77.desktop"))); // earlier cases'

        // Named by the package's bin/ beside share/, and by an absolute path.
        for (const QByteArray& exec : {QByteArray("YFZS %u"), QFile::encodeName(exe) + " %u"}) {
            writeEntry(exec, "x-scheme-handler/vederu77;");
            QFile::remove(m_xdg.filePath(QStringLiteral("config/mimeapps.list")));
            platform::RegisterUrlScheme(scheme, exe, QStringLiteral("QX77"));
            QCOMPARE(platform::UrlSchemeDefaultEntry(scheme), QStringLiteral("YFZS.desktop"));
            QVERIFY(
                !QFile::exists(m_xdg.filePath(QStringLiteral("data/applications/yfzs-vederu77.desktop"))));
        }
        // Another copy of the program, or an entry without the scheme: the per-user entry as before.
        platform::RegisterUrlScheme(scheme, other, QStringLiteral("QX77"));
        QCOMPARE(platform::UrlSchemeDefaultEntry(scheme), QStringLiteral("yfzs-vederu77.desktop"));
        writeEntry("YFZS %u", "text/plain;");
        platform::RegisterUrlScheme(scheme, exe, QStringLiteral("QX77"));
        QCOMPARE(platform::UrlSchemeDefaultEntry(scheme), QStringLiteral("yfzs-vederu77.desktop"));
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme), u'"' + exe + QStringLiteral("\" %u"));

        if (savedDirs.isNull())
            qunsetenv("XDG_DATA_DIRS");
        else
            qputenv("XDG_DATA_DIRS", savedDirs);
    }
};

YFZS_TEST_CLASS(UrlSchemeTest)
#include "urlscheme_test.moc"
