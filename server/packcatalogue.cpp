#include "packcatalogue.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <set>

namespace {

QString Q(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

bool IsSafeFileName(std::string_view name)
{
    if (name.empty() || name.size() > 200 || name.front() == '.')
        return false;
    // Plain ASCII only: the name goes unescaped into addresses, links and HTML.
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '.' || c == '_' || c == '-';
        if (!plain)
            return false;
    }
    return true;
}

std::optional<std::vector<Pack>> LoadCatalogue(const std::string& dataDir, std::string* error,
                                               std::vector<std::string>* problems)
{
    const QString dir = Q(dataDir);
    QFile file(dir + u'/' + Q(layout::kCatalogue));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = "cannot read " + file.fileName().toStdString();
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject() || !doc.object().value(u"packs").isArray()) {
        if (error)
            *error = file.fileName().toStdString() + ": no \"packs\" list ("
                + parseError.errorString().toStdString() + ")";
        return std::nullopt;
    }
    std::vector<Pack> packs;
    // Every pack downloads to Downloads/<file> in the program folder, so two packs with one
    // file name would overwrite each other there (and the page could not tell them apart).
    // Compared ignoring case, as the players' file systems may.
    std::set<QString> files;
    for (const QJsonValue& v : doc.object().value(u"packs").toArray()) {
        const QJsonObject o = v.toObject();
        Pack p;
        p.file = o.value(u"file").toString().toStdString();
        p.name = o.value(u"name").toString().toStdString();
        p.kind = o.value(u"kind").toInt();
        p.preview = o.value(u"preview").toString().toStdString();
        p.description = o.value(u"description").toString().toStdString();
        const QFileInfo info(dir + u'/' + Q(layout::kPacks) + u'/' + Q(p.file));
        std::string problem;
        if (!IsSafeFileName(p.file) || (!p.preview.empty() && !IsSafeFileName(p.preview)))
            problem = "unsafe file name";
        else if (p.kind < 1 || p.kind > 3)
            problem = "kind must be 1, 2 or 3";
        else if (!info.isFile())
            problem = "file missing";
        else if (!files.insert(Q(p.file).toLower()).second)
            problem = "file name used by an earlier pack";
        if (!problem.empty()) {
            if (problems)
                problems->push_back(p.file + ": " + problem);
            continue;
        }
        p.size = static_cast<std::uint64_t>(info.size());
        if (p.name.empty())
            p.name = p.file;
        packs.push_back(std::move(p));
    }
    return packs;
}

bool SaveCatalogue(const std::string& dataDir, const std::vector<Pack>& packs)
{
    QJsonArray list;
    std::set<QString> files;
    for (const Pack& p : packs) {
        if (!files.insert(Q(p.file).toLower()).second)
            return false; // would be skipped when loading; better not written at all
        QJsonObject o;
        o.insert(u"file", Q(p.file));
        o.insert(u"name", Q(p.name));
        o.insert(u"kind", p.kind);
        o.insert(u"preview", Q(p.preview));
        o.insert(u"description", Q(p.description));
        list.append(o);
    }
    QJsonObject root;
    root.insert(u"packs", list);
    QSaveFile file(Q(dataDir) + u'/' + Q(layout::kCatalogue));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(root).toJson());
    return file.commit();
}

std::string CatalogueJson(const std::vector<Pack>& packs, std::string_view origin)
{
    QJsonArray list;
    for (const Pack& p : packs) {
        QJsonObject o;
        o.insert(u"file", Q(p.file));
        o.insert(u"name", Q(p.name));
        o.insert(u"kind", p.kind);
        o.insert(u"size", static_cast<qint64>(p.size));
        o.insert(u"description", Q(p.description));
        o.insert(u"preview",
                 p.preview.empty() ? QString() : Q(origin) + QStringLiteral("/previews/") + Q(p.preview));
        o.insert(u"address", Q(origin) + QStringLiteral("/packs/") + Q(p.file));
        list.append(o);
    }
    QJsonObject root;
    root.insert(u"packs", list);
    return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString();
}

std::string PackLink(const Pack& pack, std::string_view hostAndPort)
{
    return "VEDERU77://" + std::string(hostAndPort) + "/packs/" + pack.file + "&" + std::to_string(pack.kind);
}
