#include "curlapi.h"

#include "downloadlog.h"

#include <QLibrary>

#include <mutex>

namespace download {

namespace {

// The soname this build was compiled against: a different major version has another ABI.
constexpr int kCurlSoVersion = 4;

template <typename F> bool resolve(QLibrary& library, const char* name, F& function)
{
    function = reinterpret_cast<F>(library.resolve(name));
    if (!function)
        qCWarning(lcDownload) << "libcurl lacks" << name;
    return function != nullptr;
}

const CurlApi* load()
{
    static QLibrary library(QStringLiteral("curl"), kCurlSoVersion);
    if (!library.load()) {
        qCWarning(lcDownload) << "libcurl could not be loaded:" << library.errorString();
        return nullptr;
    }
    static CurlApi api;
    const bool complete = resolve(library, "curl_global_init", api.globalInit)
        && resolve(library, "curl_easy_init", api.easyInit)
        && resolve(library, "curl_easy_setopt", api.easySetopt)
        && resolve(library, "curl_easy_perform", api.easyPerform)
        && resolve(library, "curl_easy_getinfo", api.easyGetinfo)
        && resolve(library, "curl_easy_cleanup", api.easyCleanup)
        && resolve(library, "curl_easy_strerror", api.easyStrerror)
        && resolve(library, "curl_slist_append", api.slistAppend)
        && resolve(library, "curl_slist_free_all", api.slistFreeAll);
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
    static std::once_flag once;
    static const CurlApi* api = nullptr;
    std::call_once(once, [] { api = load(); });
    return api;
}

} // namespace download
