#include "toolserver.h"

#include "accounts.h"
#include "packcatalogue.h"
#include "pages.h"

#include <httplib.h>

#include <cctype>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr std::size_t kMaxFormBytes = 16 * 1024;

std::string ContentType(const fs::path& path)
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
    if (ext == ".json")
        return "application/json";
    if (ext == ".zip")
        return "application/zip";
    return "application/octet-stream";
}

struct Slice {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Streams `length` bytes of an open file from `offset`.
void Stream(httplib::Response& res, std::shared_ptr<std::ifstream> in, const std::string& type, Slice slice)
{
    res.set_content_provider(static_cast<std::size_t>(slice.length), type,
                             [in, slice](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 char buffer[64 * 1024];
                                 in->clear();
                                 in->seekg(static_cast<std::streamoff>(slice.offset + offset));
                                 while (length > 0) {
                                     const std::size_t want = std::min(length, sizeof buffer);
                                     in->read(buffer, static_cast<std::streamsize>(want));
                                     const auto got = static_cast<std::size_t>(in->gcount());
                                     if (got == 0 || !sink.write(buffer, got))
                                         return false;
                                     length -= got;
                                 }
                                 return true;
                             });
}

// Serves a file, honouring a single byte range. The library's own range handling answers
// ranges past the end with a broken 206, which is exactly what a resumed, already complete
// download asks for, so ranges are handled here: past the end is 416, a last byte beyond the
// end is clamped, several ranges get the whole file (allowed, and no client of ours sends them).
bool ServeFile(const httplib::Request& req, httplib::Response& res, const fs::path& path)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    const std::uint64_t size = fs::file_size(path, ec);
    auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
    if (ec || !*in)
        return false;
    res.set_header("Accept-Ranges", "bytes");
    Slice slice{0, size};
    if (req.ranges.size() == 1) {
        const auto [first, last] = req.ranges.front(); // -1 marks an open end
        std::uint64_t from = 0, to = 0;
        bool satisfiable = size > 0;
        if (first < 0) { // suffix: the last `last` bytes
            satisfiable = satisfiable && last > 0;
            from = size - std::min<std::uint64_t>(size, static_cast<std::uint64_t>(std::max<ssize_t>(last, 0)));
            to = size - 1;
        } else {
            from = static_cast<std::uint64_t>(first);
            to = last < 0 ? size - 1 : std::min<std::uint64_t>(static_cast<std::uint64_t>(last), size - 1);
            satisfiable = satisfiable && from < size && (last < 0 || first <= last);
        }
        if (!satisfiable) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            return true;
        }
        slice = {from, to - from + 1};
        res.status = 206;
        res.set_header("Content-Range", "bytes " + std::to_string(from) + "-" + std::to_string(to) + "/" +
                                            std::to_string(size));
    }
    // The request object is the library's own, not a constant one; emptied so that the
    // library does not cut the already cut response again.
    const_cast<httplib::Request&>(req).ranges.clear();
    Stream(res, std::move(in), ContentType(path), slice);
    return true;
}

void NotFound(httplib::Response& res)
{
    res.status = 404;
    res.set_content("<!DOCTYPE html><meta charset=\"utf-8\"><p>页面不存在。</p>", kHtml);
}

// "host:port" as the visitor named us, when it looks like one; ours otherwise.
std::string HostAndPort(const httplib::Request& req, const std::string& fallback)
{
    const std::string host = req.get_header_value("Host");
    if (host.empty() || host.size() > 255)
        return fallback;
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' || c == '[' || c == ']'))
            return fallback;
    return host;
}

} // namespace

ToolServer::ToolServer(Accounts& accounts, Config config, Log log)
    : accounts_(accounts), config_(std::move(config)), log_(std::move(log))
{
}

ToolServer::~ToolServer()
{
    Stop();
}

bool ToolServer::Start(std::string* error)
{
    server_ = std::make_unique<httplib::Server>();
    Routes();
    if (config_.port == 0)
        port_ = server_->bind_to_any_port(config_.host);
    else
        port_ = server_->bind_to_port(config_.host, config_.port) ? config_.port : -1;
    if (port_ <= 0) {
        if (error)
            *error = "tool port " + config_.host + ":" + std::to_string(config_.port) + " cannot be bound";
        server_.reset();
        return false;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void ToolServer::Stop()
{
    if (!server_)
        return;
    server_->stop();
    if (thread_.joinable())
        thread_.join();
    server_.reset();
}

std::string ToolServer::Ours() const
{
    return config_.host + ":" + std::to_string(port_);
}

void ToolServer::Routes()
{
    httplib::Server& svr = *server_;
    const fs::path data = config_.dataDir;
    const fs::path web = config_.webDir;

    svr.set_payload_max_length(kMaxFormBytes);
    svr.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        log_("http " + req.remote_addr + " " + req.method + " " + req.target + " " + std::to_string(res.status));
    });
    svr.set_mount_point("/CF20", web.string());
    svr.set_file_extension_and_mimetype_mapping("js", "text/javascript; charset=utf-8");
    svr.set_file_extension_and_mimetype_mapping("css", "text/css; charset=utf-8");
    svr.set_file_extension_and_mimetype_mapping("html", kHtml);

    svr.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/CF20/CF_Index.aspx"); });
    svr.Get("/CF20/CF_Index.aspx", [web](const httplib::Request& req, httplib::Response& res) {
        if (!ServeFile(req, res, web / "index.html"))
            NotFound(res);
    });
    svr.Get("/thread-5391013-1-1.html", [web](const httplib::Request& req, httplib::Response& res) {
        if (!ServeFile(req, res, web / "help.html"))
            NotFound(res);
    });

    svr.Get("/api/packs", [this, data](const httplib::Request& req, httplib::Response& res) {
        std::string error;
        const auto packs = LoadCatalogue(data.string(), &error);
        if (!packs) {
            log_("catalogue: " + error);
            res.status = 503;
            res.set_content("{\"packs\":[],\"error\":\"catalogue unavailable\"}", "application/json");
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(CatalogueJson(*packs, "http://" + HostAndPort(req, Ours())), "application/json");
    });
    svr.Get("/resources.html", [this, data](const httplib::Request& req, httplib::Response& res) {
        const auto packs = LoadCatalogue(data.string());
        res.set_content(ResourceSitePage(packs.value_or(std::vector<Pack>{}), HostAndPort(req, Ours())), kHtml);
    });

    auto folder = [](fs::path dir) {
        return [dir](const httplib::Request& req, httplib::Response& res) {
            const std::string name = req.matches[1];
            if (!IsSafeFileName(name) || !ServeFile(req, res, dir / name))
                NotFound(res);
        };
    };
    svr.Get(R"(/packs/([^/]+))", folder(data / layout::kPacks));
    svr.Get(R"(/previews/([^/]+))", folder(data / layout::kPreviews));
    svr.Get("/cftoolweb/yxxf.zip", [data](const httplib::Request& req, httplib::Response& res) {
        if (!ServeFile(req, res, data / layout::kRepairArchive))
            NotFound(res);
    });

    svr.Get("/member.php", [web](const httplib::Request& req, httplib::Response& res) {
        if (req.get_param_value("mod") != "register" || !ServeFile(req, res, web / "register.html"))
            NotFound(res);
    });
    svr.Post("/member.php", [this](const httplib::Request& req, httplib::Response& res) {
        if (req.get_param_value("mod") != "register") {
            NotFound(res);
            return;
        }
        const std::string user = req.get_param_value("username");
        const std::string password = req.get_param_value("password");
        const std::string again = req.get_param_value("password2");
        if (req.has_param("password2") && password != again) {
            res.status = 400;
            res.set_content(RegisterResultPage("两次输入的密码不一致。", false), kHtml);
            return;
        }
        const auto result = accounts_.Register(user, password);
        const bool created = result == Accounts::RegisterResult::Created;
        res.status = created ? 200 : (result == Accounts::RegisterResult::Duplicate ? 409 : 400);
        if (result == Accounts::RegisterResult::StorageError)
            res.status = 500;
        log_("register \"" + user + "\": " + (created ? "created" : "refused"));
        res.set_content(RegisterResultPage(Accounts::Describe(result), created), kHtml);
    });

    svr.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.status == 404 && res.body.empty())
            NotFound(res);
    });
}
