#include "testrunner.h"

#include "accounts.h"
#include "demodata.h"
#include "packcatalogue.h"
#include "zipwriter.h"

#include <minizip/unzip.h>

#include <QFile>
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
            const int got = data.empty()
                ? 0
                : unzReadCurrentFile(zip, data.data(), static_cast<unsigned>(data.size()));
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

    // What --make-demo makes: packs whose download progress can be watched, pictures that
    // are real ones.
    void realisticPacksAreMegabytes()
    {
        QTemporaryDir dir;
        const std::string data = dir.path().toStdString();
        std::string error;
        QVERIFY2(MakeDemoData(data, &error, {true, {}}), error.c_str());
        const auto packs = LoadCatalogue(data);
        QVERIFY(packs);
        QCOMPARE(packs->size(), std::size_t(4));
        std::uint64_t largest = 0;
        for (const Pack& pack : *packs) {
            QVERIFY2(pack.size >= 1024 * 1024, pack.file.c_str());
            largest = std::max(largest, pack.size);
        }
        QVERIFY(largest >= 40 * 1024 * 1024 && largest <= 64 * 1024 * 1024);

        const auto entries = ReadZip(data + "/packs/res_clear.zip");
        QCOMPARE(entries.count("Texture/wall_16.png"), std::size_t(1));
        const QImage wall = QImage::fromData(QByteArray::fromStdString(entries.at("Texture/wall_16.png")));
        QCOMPARE(wall.size(), QSize(1024, 1024));
        QVERIFY(wall.pixel(10, 10) != wall.pixel(500, 700));
    }

    // Two packs with one file name would share Downloads/<file> on the player's machine.
    void catalogueRefusesTwoPacksWithOneFileName()
    {
        QTemporaryDir dir;
        const std::string data = dir.path().toStdString();
        QVERIFY(MakeDemoData(data));
        QVERIFY(QFile::copy(dir.filePath(QStringLiteral("packs/mark_red.zip")),
                            dir.filePath(QStringLiteral("packs/MARK_RED.zip"))));
        auto packs = *LoadCatalogue(data);
        const Pack first = packs.front();
        Pack sameFile = first, otherCase = first;
        sameFile.name = "同名文件";
        otherCase.file = "MARK_RED.zip";
        QVERIFY(!SaveCatalogue(data, {first, sameFile}));
        QVERIFY(!SaveCatalogue(data, {first, otherCase}));

        // A catalogue written by hand: the first pack of a file name stays, the rest are named.
        QFile catalogue(dir.filePath(QStringLiteral("catalogue.json")));
        QVERIFY(catalogue.open(QIODevice::WriteOnly | QIODevice::Truncate));
        catalogue.write(R"({"packs": [{"file": "mark_red.zip", "name": "A", "kind": 1},
                                      {"file": "mark_red.zip", "name": "B", "kind": 2},
                                      {"file": "MARK_RED.zip", "name": "C", "kind": 1},
                                      {"file": "skin_blue.zip", "name": "D", "kind": 2}]})");
        catalogue.close();
        std::vector<std::string> problems;
        packs = *LoadCatalogue(data, nullptr, &problems);
        QCOMPARE(packs.size(), std::size_t(2));
        QCOMPARE(packs[0].name, std::string("A"));
        QCOMPARE(packs[1].name, std::string("D"));
        QCOMPARE(problems.size(), std::size_t(2));
        QVERIFY2(problems[1].starts_with("MARK_RED.zip: "), problems[1].c_str());
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
