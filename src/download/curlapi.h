#pragma once
// libcurl, loaded the first time a download starts rather than with the program. Its TLS,
// LDAP, SSH and RTMP dependencies cost a start-up 6-8 ms of loading and relocating, and most
// starts never download anything.

#include <curl/curl.h>

namespace download {

struct CurlApi
{
    CURLcode (*globalInit)(long flags);
    CURL* (*easyInit)();
    CURLcode (*easySetopt)(CURL* handle, CURLoption option, ...);
    CURLcode (*easyPerform)(CURL* handle);
    CURLcode (*easyGetinfo)(CURL* handle, CURLINFO info, ...);
    void (*easyCleanup)(CURL* handle);
    const char* (*easyStrerror)(CURLcode code);
    curl_slist* (*slistAppend)(curl_slist* list, const char* text);
    void (*slistFreeAll)(curl_slist* list);
};

// The library, loaded and initialised once; null (and logged) when it cannot be loaded.
const CurlApi* Curl();

} // namespace download
