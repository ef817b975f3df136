#include "testrunner.h"

#include "accounts.h"
#include "demodata.h"
#include "packcatalogue.h"
#include "zipwriter.h"

#include <minizip/unzip.h>

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <map>

namespace {

// Every entry of an archive, read back with the ZIP reader the program uses.
std::map<std::string, std::string> ReadZip(const std::string& path)
{
    std::map<std::string, std::string> entries;
    unzFile zip = unzOpen64(path.c_str());
    if (!zip)
        return entries;
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        char name[512];
        unz_file_info64 info;
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        std::string data(info.uncompressed_size, '\0');
        if (unzOpenCurrentFile(zip) == UNZ_OK) {
            const int got = data.empty() ? 0 : unzReadCurrentFile(zip, data.data(), static_cast<unsigned>(data.size()));
            // Closing checks the CRC of what was read.
            if (unzCloseCurrentFile(zip) == UNZ_OK && got == static_cast<int>(data.size()))
                entries[name] = data;
        }
    }
    unzClose(zip);
    return entries;
}

} // namespace

class DemoDataTest : public QObject
{
    Q_OBJECT

private slots:
    void packsAreRealArchivesLaidOutForTheirKind()
    {
        QTemporaryDir dir;
        const std::string data = dir.path().toStdString();
        std::string error;
        QVERIFY2(MakeDemoData(data, &error), error.c_str());
        const auto packs = LoadCatalogue(data);
        QVERIFY(packs);
        QCOMPARE(packs->size(), std::size_t(4));

        for (const Pack& pack : *packs) {
            const auto entries = ReadZip(data + "/packs/" + pack.file);
            QVERIFY2(!entries.empty(), pack.file.c_str());
            for (const auto& [name, bytes] : entries) {
                // Packs hold what goes below their kind's folder, never the folder itself.
                QVERIFY2(!name.starts_with("rez/") && !name.starts_with("Mark/"), name.c_str());
                if (name.ends_with(".png"))
                    QVERIFY2(!QImage::fromData(QByteArray::fromStdString(bytes)).isNull(), name.c_str());
            }
            const QImage preview(QString::fromStdString(data + "/previews/" + pack.preview));
            QCOMPARE(preview.size(), QSize(96, 64));
        }
        const auto repair = ReadZip(data + "/" + std::string(layout::kRepairArchive));
        QVERIFY(repair.count("rez/UI/Mark/Mark_01.png"));
        QVERIFY(repair.count("rez/UI/") && repair.at("rez/UI/").empty());
    }

    void rerunKeepsAccounts()
    {
        QTemporaryDir dir;
        const std::string data = dir.path().toStdString();
        QVERIFY(MakeDemoData(data));
        {
            Accounts accounts;
            QVERIFY(accounts.Open(data + "/accounts.db"));
            QCOMPARE(accounts.Register("keeper", "k33p"), Accounts::RegisterResult::Created);
        }
        QVERIFY(MakeDemoData(data));
        Accounts accounts;
        QVERIFY(accounts.Open(data + "/accounts.db"));
        QVERIFY(accounts.Check("keeper", "k33p"));
        QVERIFY(accounts.Check(kDemoUser, kDemoPassword));
        QVERIFY(!accounts.Check("keeper", ""));
    }

    void unwritableTargetLeavesNoHalfArchive()
    {
        QTemporaryDir dir;
        const std::string target = dir.path().toStdString() + "/missing-folder/a.zip";
        std::string error;
        QVERIFY(!WriteZip(target, {{"a.txt", "a"}}, &error));
        QVERIFY(!error.empty());
        QVERIFY(!QFile::exists(QString::fromStdString(target)));
    }
};

YFZS_TEST_CLASS(DemoDataTest)
#include "demo_test.moc"
