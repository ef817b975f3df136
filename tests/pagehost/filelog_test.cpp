// The page's file methods fail with 0 as before, and each failure leaves its reason in the
// page's log, so a tool page that gets 0 can be diagnosed.
#include "logcapture.h"
#include "pagefixture.h"
#include "testfiles.h"
#include "testrunner.h"
#include "zipbuilder.h"

#include "pagehost/htmlctrl.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

class PageFileLogTest : public QObject
{
    Q_OBJECT

private slots:
    void quietFailuresAreLogged()
    {
        PageFixture f;
        CHtmlCtrl& view = *f.View();
        QTemporaryDir dir;
        const QString a = dir.filePath(u"a.txt"_qs);
        const QString missing = dir.filePath(u"none.txt"_qs);
        const QString noFolder = dir.filePath(u"no/such/b.txt"_qs);
        QVERIFY(writeFile(a, "alpha"));

        // Each call fails with 0 and leaves one page warning naming the path at fault.
        struct Case
        {
            const char* what;
            std::function<int()> call;
            QString named;
        };
        const Case cases[] = {
            {"delete missing", [&] { return view.DeleteFile(missing); }, missing},
            {"delete folder", [&] { return view.DeleteFile(dir.path()); }, dir.path()},
            {"copy missing", [&] { return view.CopyFile(missing, a); }, missing},
            {"copy onto itself", [&] { return view.CopyFile(a, a); }, a},
            {"copy into no folder", [&] { return view.CopyFile(a, noFolder); }, noFolder},
            {"move missing", [&] { return view.MoveFile(missing, a); }, missing},
            {"move onto itself", [&] { return view.MoveFile(a, a); }, a},
            {"move onto a folder", [&] { return view.MoveFile(a, dir.path()); }, dir.path()},
            {"move into no folder", [&] { return view.MoveFile(a, noFolder); }, noFolder},
            {"find missing", [&] { return int(view.GetFilePath(missing).size()); }, missing},
        };
        LogCapture log(u"yfzs.page"_qs);
        for (const Case& c : cases) {
            QVERIFY2(c.call() == 0, c.what);
            const QStringList lines = log.Take();
            QVERIFY2(lines.size() == 1 && lines[0].startsWith(u"yfzs.page: "_qs)
                         && lines[0].contains(c.named),
                     qPrintable(QString::fromLatin1(c.what) + u": "_qs + lines.join(u" | "_qs)));
        }
        QCOMPARE(readFile(a), QByteArray("alpha"));
    }

    // The page still gets exactly 0 for an archive no disk can hold; the log says why.
    void unzipFileLogsWhyItFailed()
    {
        PageFixture f;
        QVERIFY(f.LoadToolPage("/unzip.html", u"<html><body></body></html>"_qs));
        QTemporaryDir dir;
        const QString archive = dir.filePath(u"huge.zip"_qs);
        const QString out = dir.filePath(u"out"_qs);
        QVERIFY(WriteOversizedArchive(archive));

        LogCapture log(u"yfzs.page"_qs);
        const QString paths = QString::fromUtf8(
            QJsonDocument(QJsonArray{archive, out}).toJson(QJsonDocument::Compact));
        QCOMPARE(f.Json(u"const p = %1; return external.UnzipFile(p[0], p[1]);"_qs.arg(paths)),
                 QJsonValue(0));
        const QStringList lines = log.Take().filter(u"UnzipFile"_qs);
        QVERIFY2(lines.size() == 1 && lines[0].startsWith(u"yfzs.page: "_qs) && lines[0].contains(archive)
                     && lines[0].contains(u"not enough free space"_qs),
                 qPrintable(lines.join(u" | "_qs)));
        QVERIFY(!QFile::exists(out));
    }
};

YFZS_TEST_CLASS(PageFileLogTest)
#include "filelog_test.moc"
