#include "pages.h"

#include <cstdio>

namespace {

std::string Shell(std::string_view title, std::string_view body)
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\">"
                       "<link rel=\"stylesheet\" href=\"/CF20/site.css\"><title>";
    html += HtmlEscape(title);
    html += "</title></head><body><main class=\"site\">\n";
    html += body;
    html += "\n</main></body></html>\n";
    return html;
}

} // namespace

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string KindName(int kind)
{
    switch (kind) {
    case 1:
        return "准星";
    case 2:
        return "界面";
    case 3:
        return "资源";
    }
    return "其他";
}

std::string HumanSize(std::uint64_t bytes)
{
    char text[32];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    else if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string ResourceSitePage(const std::vector<Pack>& packs, std::string_view hostAndPort)
{
    std::string body = "<h1>QX77 资源站</h1>\n<p>点击“一键安装”，云帆助手会下载资源包并安装到游戏目录。"
                       "还没有安装云帆助手？请先安装并运行一次。</p>\n<ul class=\"packs\">\n";
    for (const Pack& p : packs) {
        body += "<li><img src=\"/previews/" + HtmlEscape(p.preview)
            + "\" alt=\"\" width=\"96\" height=\"64\">";
        body += "<div><b>" + HtmlEscape(p.name) + "</b> <span class=\"kind\">" + KindName(p.kind)
            + "</span> <span class=\"size\">" + HumanSize(p.size) + "</span><br>";
        body += HtmlEscape(p.description) + "<br>";
        if (hostAndPort.empty()) // completed below from the address the visitor used
            body += "<a class=\"install\" data-link=\"" + HtmlEscape(PackLink(p, "HOST")) + "\">";
        else
            body += "<a class=\"install\" href=\"" + HtmlEscape(PackLink(p, hostAndPort)) + "\">";
        body += "一键安装</a></div></li>\n";
    }
    if (packs.empty())
        body += "<li>暂时没有资源。</li>\n";
    body += "</ul>";
    if (hostAndPort.empty())
        body += "<script>for (const a of document.querySelectorAll('a[data-link]'))"
                " a.href = a.dataset.link.replace('//HOST/', '//' + location.host + '/');</script>";
    return Shell("QX77 资源站", body);
}

std::string RegisterResultPage(std::string_view message, bool created)
{
    std::string body = "<h1>注册QX77通行证</h1>\n<p class=\"";
    body += created ? "ok" : "error";
    body += "\">" + HtmlEscape(message) + "</p>\n";
    body += created ? "<p>请回到云帆助手，输入用户名和密码登陆。</p>"
                    : "<p><a href=\"/member.php?mod=register\">返回重新填写</a></p>";
    return Shell("注册QX77通行证", body);
}
