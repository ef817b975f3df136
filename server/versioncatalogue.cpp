#include "versioncatalogue.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace {

std::vector<std::string_view> SplitDots(std::string_view s)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == '.') {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

bool IsNumber(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Numbers of any length, without overflow: drop leading zeros, then longer is larger.
int CompareNumbers(std::string_view a, std::string_view b)
{
    auto strip = [](std::string_view s) {
        while (s.size() > 1 && s.front() == '0')
            s.remove_prefix(1);
        return s;
    };
    a = strip(a);
    b = strip(b);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int ComparePart(std::string_view a, std::string_view b)
{
    if (IsNumber(a) && IsNumber(b))
        return CompareNumbers(a, b);
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace

std::optional<Release> LoadRelease(const std::string& path, std::string* error)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = "cannot read " + path;
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        if (error)
            *error = path + ": " + parseError.errorString().toStdString();
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    Release r{o.value(u"version").toString().toStdString(), o.value(u"sertime").toString().toStdString(),
              o.value(u"clientadd").toString().toStdString()};
    if (r.version.empty() && r.sertime.empty()) {
        if (error)
            *error = path + ": neither version nor sertime given";
        return std::nullopt;
    }
    return r;
}

bool SaveRelease(const std::string& path, const Release& release)
{
    QJsonObject o;
    o.insert(u"version", QString::fromStdString(release.version));
    o.insert(u"sertime", QString::fromStdString(release.sertime));
    o.insert(u"clientadd", QString::fromStdString(release.clientadd));
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(o).toJson());
    return file.commit();
}

int CompareVersions(std::string_view a, std::string_view b)
{
    if (a.empty() || b.empty())
        return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
    const auto pa = SplitDots(a), pb = SplitDots(b);
    for (std::size_t i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        // A missing part counts as 0, so 1.2 equals 1.2.0.
        const std::string_view x = i < pa.size() ? pa[i] : std::string_view("0");
        const std::string_view y = i < pb.size() ? pb[i] : std::string_view("0");
        if (const int c = ComparePart(x, y))
            return c;
    }
    return 0;
}

bool IsOlder(std::string_view clientVersion, std::string_view clientSertime, const Release& release)
{
    if (const int c = CompareVersions(clientVersion, release.version))
        return c < 0;
    if (clientSertime.empty() || release.sertime.empty())
        return clientSertime.empty() && !release.sertime.empty();
    if (IsNumber(clientSertime) && IsNumber(release.sertime))
        return CompareNumbers(clientSertime, release.sertime) < 0;
    return clientSertime < std::string_view(release.sertime);
}
