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

private Q_SLOTS:
    void init()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_xdg.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_xdg.filePath(QStringLiteral("config"))));
    }

    void registersAndFollowsAMovedProgram()
    {
        const QString scheme = QStringLiteral("vederu77");
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme), QString());

        platform::RegisterUrlScheme(scheme, QStringLiteral("/opt/yfzs/YFZS"), QStringLiteral("QX77 云帆助手"));
        QCOMPARE(platform::RegisteredUrlSchemeCommand(scheme), QStringLiteral("\"/opt/yfzs/YFZS\" %u"));
        const QByteArray entry = read(QStringLiteral("data/applications/yfzs-vederu77.desktop"));
        QVERIFY(entry.contains("MimeType=x-scheme-handler/vederu77;\n"));
        QVERIFY(entry.contains("Name=QX77 \xe4\xba\x91\xe5\xb8\x86\xe5\x8a\xa9\xe6\x89\x8b\n"));
        QVERIFY(read(QStringLiteral("config/mimeapps.list"))
                    .contains("[Default Applications]\nx-scheme-handler/vederu77=yfzs-vederu77.desktop;"));

        // A moved program (with characters the Exec key must escape) registers itself again.
        platform::RegisterUrlScheme(scheme, QStringLiteral("/home/u/my \"games\"/$YFZS"), QStringLiteral("QX77"));
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
        platform::RegisterUrlScheme(QStringLiteral("vederu77"), QStringLiteral("/x/YFZS"), QStringLiteral("QX77"));
        QCOMPARE(read(QStringLiteral("config/mimeapps.list")),
                 QByteArray("[Added Associations]\ntext/plain=editor.desktop;\n\n[Default Applications]\n"
                            "text/html=browser.desktop;\nx-scheme-handler/vederu77=yfzs-vederu77.desktop;\n"));
    }
};

YFZS_TEST_CLASS(UrlSchemeTest)
#include "urlscheme_test.moc"
