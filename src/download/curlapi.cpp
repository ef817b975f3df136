#include "download/curlapi.h"

#include "download/downloadlog.h"
#include "platform/lazylibrary.h"

namespace download {

namespace {

// The soname this build was compiled against: a different major version has another ABI.
constexpr int kCurlSoVersion = 4;

const CurlApi* load()
{
    static platform::LazyLibrary library(QStringLiteral("curl"), kCurlSoVersion, lcDownload());
    if (!library.Load())
        return nullptr;
    static CurlApi api;
    const bool complete = library.Resolve("curl_global_init", api.globalInit)
        && library.Resolve("curl_easy_init", api.easyInit)
        && library.Resolve("curl_easy_setopt", api.easySetopt)
        && library.Resolve("curl_easy_perform", api.easyPerform)
        && library.Resolve("curl_easy_getinfo", api.easyGetinfo)
        && library.Resolve("curl_easy_cleanup", api.easyCleanup)
        && library.Resolve("curl_easy_strerror", api.easyStrerror)
        && library.Resolve("curl_slist_append", api.slistAppend)
        && library.Resolve("curl_slist_free_all", api.slistFreeAll);
    if (!complete)
        return nullptr;
    if (const CURLcode result = api.globalInit(CURL_GLOBAL_DEFAULT); result != CURLE_OK) {
        qCWarning(lcDownload) << "libcurl would not start:" << api.easyStrerror(result);
        return nullptr;
    }
    return &api;
}

} // namespace

const CurlApi* Curl()
{
    static const CurlApi* const api = load(); // once, whichever thread asks first
    return api;
}

} // namespace download
