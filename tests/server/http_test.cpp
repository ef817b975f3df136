#include "testrunner.h"

#include "packcatalogue.h"
#include "serverfixture.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class ToolServerTest : public QObject
{
    Q_OBJECT

    RunningServer m_server;
    std::unique_ptr<httplib::Client> m_web;

    httplib::Result Get(const std::string& path, const std::string& range = {})
    {
        httplib::Headers headers;
        if (!range.empty())
            headers.emplace("Range", range);
        return m_web->Get(path, headers);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.Start());
        m_web = std::make_unique<httplib::Client>("127.0.0.1", m_server.tool->Port());
    }

    void pagesAreServedAtTheProgramsAddresses()
    {
        // Each page with a piece of what it must hold.
        for (const auto& [path, piece] : {std::pair{"/CF20/CF_Index.aspx", "/CF20/toolpage.js"},
                                          {"/CF20/toolpage.js", "OnDownloadProgress"},
                                          {"/thread-5391013-1-1.html", ""},
                                          {"/member.php?mod=register", "name=\"username\""}}) {
            const auto res = Get(path);
            QVERIFY2(res && res->status == 200 && res->body.find(piece) != std::string::npos, path);
        }
        QVERIFY(Get("/CF20/CF_Index.aspx")->get_header_value("Content-Type").starts_with("text/html"));
        // Nothing else, and nothing outside the catalogued folders.
        for (const char* path :
             {"/member.php?mod=login", "/nothing/here", "/packs/..%2Fcatalogue.json", "/packs/../accounts.db",
              "/previews/%2Fetc%2Fpasswd", "/packs/missing.zip", "/CF20/../server/main.cpp"})
            QVERIFY2(Get(path)->status == 404, path);
    }

    void catalogueDescribesEveryPack()
    {
        const auto res = Get("/api/packs");
        QVERIFY(res);
        QCOMPARE(res->status, 200);
        const QJsonArray packs =
            QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object()[u"packs"].toArray();
        QCOMPARE(packs.size(), 4);
        QList<int> kinds;
        for (const QJsonValue& v : packs) {
            const QJsonObject p = v.toObject();
            kinds << p[u"kind"].toInt();
            QVERIFY(!p[u"name"].toString().isEmpty());
            const std::string file = p[u"file"].toString().toStdString();
            const std::string onDisk = m_server.DataFile("packs/" + file);
            QCOMPARE(p[u"size"].toInteger(), qint64(onDisk.size()));
            const std::string address = p[u"address"].toString().toStdString();
            QCOMPARE(address, m_server.Origin() + "/packs/" + file);
            QCOMPARE(Get(address.substr(m_server.Origin().size()))->body, onDisk);
            const std::string preview = p[u"preview"].toString().toStdString();
            QVERIFY(Get(preview.substr(m_server.Origin().size()))->body.starts_with("\x89PNG"));
        }
        std::sort(kinds.begin(), kinds.end());
        QCOMPARE(kinds, (QList<int>{1, 1, 2, 3}));
    }

    // What a resuming download engine asks for, including resuming a file that is complete.
    void rangeRequests()
    {
        const std::string pack = m_server.DataFile("packs/skin_blue.zip");
        const std::size_t size = pack.size();
        QVERIFY(size > 100);

        auto slice = Get("/packs/skin_blue.zip", "bytes=10-19");
        QCOMPARE(slice->status, 206);
        QCOMPARE(slice->body, pack.substr(10, 10));
        QCOMPARE(slice->get_header_value("Content-Range"), "bytes 10-19/" + std::to_string(size));

        const std::size_t half = size / 2;
        auto first = Get("/packs/skin_blue.zip", "bytes=0-" + std::to_string(half - 1));
        auto rest = Get("/packs/skin_blue.zip", "bytes=" + std::to_string(half) + "-");
        QCOMPARE(rest->status, 206);
        QCOMPARE(first->body + rest->body, pack);

        auto suffix = Get("/packs/skin_blue.zip", "bytes=-7");
        QCOMPARE(suffix->body, pack.substr(size - 7));
        auto clamped = Get("/packs/skin_blue.zip",
                           "bytes=" + std::to_string(size - 3) + "-" + std::to_string(size + 500));
        QCOMPARE(clamped->status, 206);
        QCOMPARE(clamped->body, pack.substr(size - 3));
        QCOMPARE(clamped->get_header_value("Content-Length"), std::string("3"));

        auto complete = Get("/packs/skin_blue.zip", "bytes=" + std::to_string(size) + "-");
        QCOMPARE(complete->status, 416);
        QCOMPARE(complete->get_header_value("Content-Range"), "bytes */" + std::to_string(size));
        QCOMPARE(Get("/packs/skin_blue.zip", "bytes=-0")->status, 416);
        QCOMPARE(Get("/packs/skin_blue.zip", "bytes=20-10")->status, 416);

        const std::string repair = m_server.DataFile(std::string(layout::kRepairArchive));
        QCOMPARE(Get("/cftoolweb/yxxf.zip")->body, repair);
        QCOMPARE(Get("/cftoolweb/yxxf.zip", "bytes=4-")->body, repair.substr(4));
    }

    void registrationRefusesWithAClearMessage()
    {
        const std::vector<std::tuple<httplib::Params, int, const char*>> cases = {
            {{{"username", ""}, {"password", "x"}}, 400, "不能为空"},
            {{{"username", "demo"}, {"password", "another"}}, 409, "已被注册"},
            {{{"username", "新用户"}, {"password", "a1"}, {"password2", "a2"}}, 400, ""},
            {{{"username", "笑😀"}, {"password", "a1"}}, 400, ""},
            {{{"username", "新用户"}, {"password", "密码"}}, 400, ""},
        };
        for (const auto& [form, status, message] : cases) {
            const auto res = m_web->Post("/member.php?mod=register", form);
            QVERIFY2(res && res->status == status, form.begin()->second.c_str());
            QVERIFY2(res->body.find(message) != std::string::npos, message);
        }
        // A name that is markup is never sent back as markup.
        QCOMPARE(Register(m_server.tool->Port(), "<script>", "x")->status, 200);
        QCOMPARE(Register(m_server.tool->Port(), "<script>", "x")->body.find("<script>"), std::string::npos);
    }

    void resourceSiteOffersProgramLinks()
    {
        httplib::Client web("127.0.0.1", m_server.tool->Port());
        const auto page = web.Get("/resources.html", {{"Host", "evil.example"}}); // links ignore Host
        QCOMPARE(page->status, 200);
        const std::string host = "127.0.0.1:" + std::to_string(m_server.tool->Port());
        for (const char* link : {"/packs/mark_red.zip&amp;1", "/packs/mark_green.zip&amp;1",
                                 "/packs/skin_blue.zip&amp;2", "/packs/res_clear.zip&amp;3"})
            QVERIFY2(page->body.find("VEDERU77://" + host + link) != std::string::npos, link);
    }
};

YFZS_TEST_CLASS(ToolServerTest)
#include "http_test.moc"
