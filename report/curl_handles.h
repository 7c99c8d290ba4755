#pragma once
// Owners of libcurl's handles, names for the one move-only template: an easy handle and a header list.
#include <curl/curl.h>

#include "base/unique_handle.h"

struct CurlEasyTraits {
    using Handle = CURL*;
    static CURL* Empty() noexcept { return nullptr; }
    static void Close(CURL* handle) noexcept { curl_easy_cleanup(handle); }
};
using CurlEasy = Base::UniqueHandle<CurlEasyTraits>;

struct CurlHeaderListTraits {
    using Handle = curl_slist*;
    static curl_slist* Empty() noexcept { return nullptr; }
    static void Close(curl_slist* list) noexcept { curl_slist_free_all(list); }
};
using CurlHeaderList = Base::UniqueHandle<CurlHeaderListTraits>;

// Appends a header line; the list stays whole (and owned) when the append fails.
inline bool AppendHeader(CurlHeaderList& list, const char* line) {
    curl_slist* longer = curl_slist_append(list.Get(), line);
    if (!longer) return false;
    list.Release();
    list.Reset(longer);
    return true;
}

static_assert(Base::kIsMoveOnly<CurlEasy>, "a curl handle owner must not be copyable");
static_assert(Base::kIsMoveOnly<CurlHeaderList>, "a header list owner must not be copyable");
