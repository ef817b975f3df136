#include "toolserver.h"

#include "accounts.h"
#include "hashpool.h"
#include "httpsession.h"
#include "names.h"
#include "netloop.h"
#include "packcatalogue.h"
#include "pages.h"

#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";

std::string contentType(const fs::path& path)
{
    const std::string ext = path.extension().string();
    if (ext == ".html" || ext == ".aspx")
        return kHtml;
    if (ext == ".js")
        return "text/javascript; charset=utf-8";
    if (ext == ".css")
        return "text/css; charset=utf-8";
    if (ext == ".png")
        return "image/png";
    if (ext == ".svg")
        return "image/svg+xml";
    if (ext == ".json")
        return "application/json";
    if (ext == ".zip")
        return "application/zip";
    return "application/octet-stream";
}

HttpReply notFound()
{
    return HttpReply::Text(404, "<!DOCTYPE html><meta charset=\"utf-8\"><p>页面不存在。</p>", kHtml);
}

// Serves a file, honouring a single byte range: past the end is 416 (what a resumed, already
// complete download asks for), a last byte beyond the end is clamped, several ranges get the
// whole file (allowed, and no client of ours sends them), a malformed Range is ignored.
std::optional<HttpReply> serveFile(const HttpRequest& req, const fs::path& path)
{
    auto file = OpenFile::Open(path.string());
    if (!file)
        return std::nullopt;
    const std::uint64_t size = file->Size();
    HttpReply reply;
    reply.Set("Accept-Ranges", "bytes");
    FileSlice slice{std::move(file), 0, size};
    const std::string rangeHeader = req.Header("Range");
    const auto ranges = rangeHeader.empty() ? std::nullopt : ParseRanges(rangeHeader);
    if (ranges && ranges->size() == 1) {
        const ByteRange& r = ranges->front();
        std::uint64_t from = 0, to = 0;
        bool satisfiable = size > 0;
        if (!r.first) { // suffix: the last `last` bytes
            satisfiable = satisfiable && *r.last > 0;
            from = size - std::min(size, *r.last);
            to = size - 1;
        } else {
            from = *r.first;
            to = r.last ? std::min(*r.last, size - 1) : size - 1;
            satisfiable = satisfiable && from < size && (!r.last || *r.first <= *r.last);
        }
        if (!satisfiable) {
            reply.status = 416;
            reply.Set("Content-Range", "bytes */" + std::to_string(size));
            return reply;
        }
        slice.offset = from;
        slice.length = to - from + 1;
        reply.status = 206;
        reply.Set("Content-Range",
                  "bytes " + std::to_string(from) + "-" + std::to_string(to) + "/" + std::to_string(size));
    }
    reply.Set("Content-Type", contentType(path));
    reply.file = std::move(slice);
    return reply;
}

HttpReply fileOrNotFound(const HttpRequest& req, const fs::path& path)
{
    return serveFile(req, path).value_or(notFound());
}

// The web folder under /CF20/: plain names in plain folders only, a folder gives its index.html.
HttpReply webFile(const HttpRequest& req, const fs::path& web, std::string_view rest)
{
    fs::path path = web;
    std::size_t start = 0;
    while (start < rest.size()) {
        const std::size_t slash = rest.find('/', start);
        const std::string_view segment = rest.substr(start, slash - start);
        if (segment.empty() || segment.front() == '.' || segment.find('\\') != std::string_view::npos)
            return notFound();
        path /= std::string(segment);
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    std::error_code ec;
    if (fs::is_directory(path, ec))
        path /= "index.html";
    return fileOrNotFound(req, path);
}

// The authority of a normal public URL: what a program link names ("" for none).
std::string authorityOf(const std::string& url)
{
    if (url.empty())
        return {};
    const std::size_t start = url.find("://") + 3;
    return url.substr(start, url.find('/', start) - start);
}

// One entry of the routing table.
struct Route
{
    std::string_view method; // "GET" answers HEAD too
    std::string_view path;
    bool prefix; // `path` starts the request's path; the rest is passed on
    std::function<void(const HttpRequest&, std::string_view rest, const HttpService::Reply&)> answer;
};

} // namespace

struct ToolServer::Private
{
    // Declared first so that it goes last: connections still queued in it refer to the rest.
    NetServer net;
    HashPool hashes{{1, 64, 8}};
    PeerRate registrations;

    Private(const Config& config)
        : net(config.maxConnectionsPerPeer, config.maxConnections, config.trustedProxies)
        , registrations(config.registrationsPerSecond, config.registrationBurst)
    {
    }
};

ToolServer::ToolServer(Accounts& accounts, Config config, Log log)
    : m_accounts(accounts)
    , m_config(std::move(config))
    , m_log(std::move(log))
{
}

ToolServer::~ToolServer()
{
    Stop();
}

bool ToolServer::Start(std::string* error)
{
    auto impl = std::make_unique<Private>(m_config);
    Private* state = impl.get();
    auto service = std::make_shared<HttpService>();
    service->limits = m_config.limits;
    service->log = m_log;
    service->trusted = state->net.Trusted();
    service->connections = state->net.Connections();

    const fs::path data = m_config.dataDir;
    const fs::path web = m_config.webDir;
    // Filled in once the port is known.
    auto ours = std::make_shared<std::string>();

    using Reply = HttpService::Reply;
    auto file = [](const fs::path& path) {
        return [path](const HttpRequest& req, std::string_view, const Reply& reply) {
            reply(fileOrNotFound(req, path));
        };
    };
    auto dataFolder = [data](std::string_view folder) {
        return [folder = data / std::string(folder)](const HttpRequest& req, std::string_view name,
                                                     const Reply& reply) {
            reply(IsSafeFileName(std::string(name)) ? fileOrNotFound(req, folder / std::string(name))
                                                    : notFound());
        };
    };
    // Exact paths, then prefixes (the path's rest goes to the answer); "GET" answers HEAD too.
    auto routes = std::make_shared<const std::vector<Route>>(std::vector<Route>{
        {"POST", "/member.php", false,
         [this, state](const HttpRequest& req, std::string_view, const Reply& reply) {
             Register(req, reply, state->registrations, state->hashes);
         }},
        {"GET", "/", false,
         [](const HttpRequest&, std::string_view, const Reply& reply) {
             HttpReply redirect;
             redirect.status = 302;
             redirect.Set("Location", "/CF20/CF_Index.aspx");
             reply(std::move(redirect));
         }},
        {"GET", "/CF20/CF_Index.aspx", false, file(web / "index.html")},
        {"GET", "/thread-5391013-1-1.html", false, file(web / "help.html")},
        {"GET", "/cftoolweb/yxxf.zip", false, file(data / layout::kRepairArchive)},
        {"GET", "/member.php", false,
         [page = web / "register.html"](const HttpRequest& req, std::string_view, const Reply& reply) {
             reply(req.Param("mod") == "register" ? fileOrNotFound(req, page) : notFound());
         }},
        {"GET", "/api/packs", false,
         [this, data, ours](const HttpRequest&, std::string_view, const Reply& reply) {
             std::string problem;
             const auto packs = LoadCatalogue(data.string(), &problem);
             if (!packs) {
                 m_log("catalogue: " + problem);
                 return reply(HttpReply::Text(503, "{\"packs\":[],\"error\":\"catalogue unavailable\"}",
                                              "application/json"));
             }
             HttpReply json = HttpReply::Text(200, CatalogueJson(*packs, *ours), "application/json");
             json.Set("Cache-Control", "no-store");
             reply(std::move(json));
         }},
        {"GET", "/resources.html", false,
         [data, ours](const HttpRequest&, std::string_view, const Reply& reply) {
             const auto packs = LoadCatalogue(data.string());
             HttpReply page = HttpReply::Text(
                 200, ResourceSitePage(packs.value_or(std::vector<Pack>{}), authorityOf(*ours)), kHtml);
             page.Set("Cache-Control", "no-store"); // the catalogue changes under it
             reply(std::move(page));
         }},
        {"GET", "/packs/", true, dataFolder(layout::kPacks)},
        {"GET", "/previews/", true, dataFolder(layout::kPreviews)},
        {"GET", "/CF20/", true,
         [web](const HttpRequest& req, std::string_view rest,
               const Reply& reply) { reply(webFile(req, web, rest)); }},
    });
    service->handler = [routes](const HttpRequest& req, Reply reply) {
        const bool get = req.method == "GET" || req.method == "HEAD";
        for (const Route& route : *routes) {
            if (route.method == "GET" ? !get : req.method != route.method)
                continue;
            if (route.prefix ? req.path.starts_with(route.path) : req.path == route.path)
                return route.answer(req, std::string_view(req.path).substr(route.path.size()), reply);
        }
        reply(notFound());
    };

    auto accepted = [service](boost::asio::ip::tcp::socket socket, const std::string& peer,
                              PeerConnections::Slot slot) {
        std::make_shared<HttpSession>(std::move(socket), peer, std::move(slot), service)->Start();
    };
    if (!state->net.Open("tool", m_config.host, m_config.port, accepted, m_log, error))
        return false;
    m_port = state->net.Port();
    // The links' base is settled before the first request can arrive.
    // Listening on every address, none of them is the one players use: the catalogue's
    // addresses are then relative to the page, and the resource site completes its own links.
    const bool everywhere = m_config.host == "0.0.0.0" || m_config.host == "::";
    *ours = !m_config.publicUrl.empty() ? m_config.publicUrl
        : everywhere                    ? std::string()
                                        : "http://" + m_config.host + ":" + std::to_string(m_port);
    state->net.Start(m_log);
    d = std::move(impl);
    return true;
}

std::string ToolServer::NormalPublicUrl(std::string_view text)
{
    std::string url(text);
    while (url.ends_with('/'))
        url.pop_back();
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos || (url.substr(0, scheme) != "http" && url.substr(0, scheme) != "https"))
        return {};
    const std::string authority = authorityOf(url);
    if (authority.empty() || authority.size() > 255)
        return {};
    for (char c : url.substr(scheme + 3))
        if (!(std::isalnum(static_cast<unsigned char>(c))
              || std::string_view(".:-[]/_~%").find(c) != std::string_view::npos))
            return {};
    return url;
}

// The registration form: checked and paced here, the account made (its password hashed) on the
// pool's thread.
void ToolServer::Register(const HttpRequest& req, const HttpService::Reply& reply, PeerRate& pace,
                          HashPool& hashes)
{
    if (req.Param("mod") != "register")
        return reply(notFound());
    const std::string user = req.Param("username");
    const std::string password = req.Param("password");
    if (req.HasParam("password2") && password != req.Param("password2"))
        return reply(HttpReply::Text(400, RegisterResultPage("两次输入的密码不一致。", false), kHtml));
    if (!pace.Allow(req.peer)) {
        m_log("register \"" + names::ForLog(user) + "\" from " + req.peer
              + ": refused, too many registrations");
        return reply(HttpReply::Text(429, RegisterResultPage("注册太频繁，请稍后再试。", false), kHtml));
    }
    auto job = [this, user, password, reply, peer = req.peer] {
        const auto result = m_accounts.Register(user, password);
        const bool created = result == Accounts::RegisterResult::Created;
        int status = created ? 200 : (result == Accounts::RegisterResult::Duplicate ? 409 : 400);
        if (result == Accounts::RegisterResult::StorageError)
            status = 500;
        m_log("register \"" + names::ForLog(user) + "\" from " + peer + ": "
              + (created ? "created" : "refused"));
        reply(HttpReply::Text(status, RegisterResultPage(Accounts::Describe(result), created), kHtml));
    };
    if (!hashes.Submit(req.peer, job))
        reply(HttpReply::Text(503, RegisterResultPage("服务器繁忙，请稍后再试。", false), kHtml));
}

void ToolServer::Stop()
{
    if (!d)
        return;
    d->net.Stop();
    d->hashes.Stop(); // after the loop: a dropped job's reply may hold the last use of a connection
    d.reset();
}
