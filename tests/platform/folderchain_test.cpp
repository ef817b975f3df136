#include "testrunner.h"

#include "platform/folderchain.h"
#include "testfiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class FolderChainTest : public QObject
{
    Q_OBJECT

private slots:
    void createFolderChain()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path();
        QVERIFY(CreateFolderChain(root + u"/a\\b/c"_qs));
        QVERIFY(QFileInfo(root + u"/a/b/c"_qs).isDir());
        // Existing levels, trailing and doubled separators are all fine.
        QVERIFY(CreateFolderChain(root + u"\\a//b\\c\\d\\"_qs));
        QVERIFY(QFileInfo(root + u"/a/b/c/d"_qs).isDir());
        QVERIFY(CreateFolderChain(root));
        // A file in the way makes the answer false.
        QVERIFY(writeFile(root + u"/file"_qs, "f"));
        QVERIFY(!CreateFolderChain(root + u"/file/sub"_qs));
        QVERIFY(!CreateFolderChain(root + u"/file"_qs));
        QVERIFY(!CreateFolderChain(QString()));
    }

    void isExistingFolder()
    {
        QTemporaryDir tmp;
        QVERIFY(IsExistingFolder(tmp.path()));
        QVERIFY(IsExistingFolder(tmp.path() + u"\\"_qs));
        QVERIFY(!IsExistingFolder(tmp.path() + u"/missing"_qs));
        QVERIFY(!IsExistingFolder(QString()));
        QVERIFY(writeFile(tmp.path() + u"/f"_qs, "f"));
        QVERIFY(!IsExistingFolder(tmp.path() + u"/f"_qs));
    }
};

YFZS_TEST_CLASS(FolderChainTest)
#include "folderchain_test.moc"
