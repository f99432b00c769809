// libcurl, loaded when the first HTTP transfer needs it rather than when the program starts.
// libcurl and what it links (TLS, SSH, LDAP, Kerberos, HTTP/2, ...) are some thirty shared
// libraries whose loading and set-up cost a run that never speaks HTTP (a port-43 lookup,
// saved answers read back) about a millisecond of processor time. The program is not linked
// with libcurl: the functions it calls are defined here and forward to the library's own,
// which are looked up once, on the first call, from the soname this build was made against.
// Were the library missing, every handle fails to be made and every call reports
// CURLE_FAILED_INIT, so a transfer fails with curlLoadError()'s words.

#include "net/curlloader.h"

#include "platform/runtimelibrary.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdarg>

// The variadic functions keep libcurl's own signatures, whose last named parameter is an enum
// (CURLoption, CURLMoption, CURLSHoption, CURLINFO); clang calls va_start after such a
// parameter undefined, as the enum would be promoted. Their underlying type is int already, so
// nothing is promoted.
static_assert(sizeof(CURLoption) == sizeof(int) && sizeof(CURLMoption) == sizeof(int) &&
              sizeof(CURLSHoption) == sizeof(int) && sizeof(CURLINFO) == sizeof(int));
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wvarargs"
#endif

namespace {

// The soname of the libcurl the build found (libcurl4 on Debian).
constexpr char CurlSoname[] = "libcurl.so.4";

struct Api
{
    bool loaded = false;
    QString error;
    CURLcode (*globalInit)(long) = nullptr;
    CURL *(*easyInit)() = nullptr;
    void (*easyCleanup)(CURL *) = nullptr;
    CURLcode (*easySetopt)(CURL *, CURLoption, ...) = nullptr;
    CURLcode (*easyGetinfo)(CURL *, CURLINFO, ...) = nullptr;
    const char *(*easyStrerror)(CURLcode) = nullptr;
    CURLM *(*multiInit)() = nullptr;
    CURLMcode (*multiCleanup)(CURLM *) = nullptr;
    CURLMcode (*multiSetopt)(CURLM *, CURLMoption, ...) = nullptr;
    CURLMcode (*multiAddHandle)(CURLM *, CURL *) = nullptr;
    CURLMcode (*multiRemoveHandle)(CURLM *, CURL *) = nullptr;
    CURLMcode (*multiSocketAction)(CURLM *, curl_socket_t, int, int *) = nullptr;
    CURLMsg *(*multiInfoRead)(CURLM *, int *) = nullptr;
    CURLSH *(*shareInit)() = nullptr;
    CURLSHcode (*shareCleanup)(CURLSH *) = nullptr;
    CURLSHcode (*shareSetopt)(CURLSH *, CURLSHoption, ...) = nullptr;
    curl_slist *(*slistAppend)(curl_slist *, const char *) = nullptr;
    void (*slistFreeAll)(curl_slist *) = nullptr;
};

Api loadApi()
{
    Api api;
    RuntimeLibrary library(CurlSoname);
    api.loaded = library.resolve("curl_global_init", api.globalInit) &&
                 library.resolve("curl_easy_init", api.easyInit) &&
                 library.resolve("curl_easy_cleanup", api.easyCleanup) &&
                 library.resolve("curl_easy_setopt", api.easySetopt) &&
                 library.resolve("curl_easy_getinfo", api.easyGetinfo) &&
                 library.resolve("curl_easy_strerror", api.easyStrerror) &&
                 library.resolve("curl_multi_init", api.multiInit) &&
                 library.resolve("curl_multi_cleanup", api.multiCleanup) &&
                 library.resolve("curl_multi_setopt", api.multiSetopt) &&
                 library.resolve("curl_multi_add_handle", api.multiAddHandle) &&
                 library.resolve("curl_multi_remove_handle", api.multiRemoveHandle) &&
                 library.resolve("curl_multi_socket_action", api.multiSocketAction) &&
                 library.resolve("curl_multi_info_read", api.multiInfoRead) &&
                 library.resolve("curl_share_init", api.shareInit) &&
                 library.resolve("curl_share_cleanup", api.shareCleanup) &&
                 library.resolve("curl_share_setopt", api.shareSetopt) &&
                 library.resolve("curl_slist_append", api.slistAppend) &&
                 library.resolve("curl_slist_free_all", api.slistFreeAll);
    api.error = library.error();
    return api;
}

const Api &curl()
{
    static const Api api = loadApi();
    return api;
}

// Whether the library has been loaded already, without loading it: releasing what was never
// made must not load it.
std::atomic<bool> &everLoaded()
{
    static std::atomic<bool> loaded{false};
    return loaded;
}

const Api *loadedCurl()
{
    return everLoaded().load() ? &curl() : nullptr;
}

const Api *curlForUse()
{
    const Api &api = curl();
    everLoaded().store(true);
    return api.loaded ? &api : nullptr;
}

// The one argument after a curl_easy_setopt or curl_multi_setopt option, by the option's type
// (the option numbers carry it: CURLOPTTYPE_*).
enum class ArgKind
{
    Long,
    Pointer,
    Function,
    OffT,
};

ArgKind argKindOf(long option)
{
    if (option >= CURLOPTTYPE_BLOB)
        return ArgKind::Pointer;
    if (option >= CURLOPTTYPE_OFF_T)
        return ArgKind::OffT;
    if (option >= CURLOPTTYPE_FUNCTIONPOINT)
        return ArgKind::Function;
    if (option >= CURLOPTTYPE_OBJECTPOINT)
        return ArgKind::Pointer;
    return ArgKind::Long;
}

} // namespace

bool curlLoaded()
{
    return curlForUse() != nullptr;
}

QString curlLoadError()
{
    return curl().error;
}

extern "C" {

CURLcode curl_global_init(long flags)
{
    const Api *api = curlForUse();
    return api ? api->globalInit(flags) : CURLE_FAILED_INIT;
}

CURL *curl_easy_init(void)
{
    const Api *api = curlForUse();
    return api ? api->easyInit() : nullptr;
}

void curl_easy_cleanup(CURL *easy)
{
    if (const Api *api = loadedCurl(); api && api->loaded && easy)
        api->easyCleanup(easy);
}

CURLcode curl_easy_setopt(CURL *easy, CURLoption option, ...)
{
    const Api *api = curlForUse();
    if (!api)
        return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, option);
    CURLcode result = CURLE_OK;
    switch (argKindOf(option)) {
    case ArgKind::Long:
        result = api->easySetopt(easy, option, va_arg(args, long));
        break;
    case ArgKind::Pointer:
        result = api->easySetopt(easy, option, va_arg(args, void *));
        break;
    case ArgKind::Function:
        result = api->easySetopt(easy, option, va_arg(args, void (*)()));
        break;
    case ArgKind::OffT:
        result = api->easySetopt(easy, option, va_arg(args, curl_off_t));
        break;
    }
    va_end(args);
    return result;
}

CURLcode curl_easy_getinfo(CURL *easy, CURLINFO info, ...)
{
    const Api *api = curlForUse();
    if (!api)
        return CURLE_FAILED_INIT;
    // Every piece of information is written through a pointer.
    va_list args;
    va_start(args, info);
    void *out = va_arg(args, void *);
    va_end(args);
    return api->easyGetinfo(easy, info, out);
}

const char *curl_easy_strerror(CURLcode code)
{
    const Api *api = curlForUse();
    return api ? api->easyStrerror(code) : "libcurl could not be loaded";
}

CURLM *curl_multi_init(void)
{
    const Api *api = curlForUse();
    return api ? api->multiInit() : nullptr;
}

CURLMcode curl_multi_cleanup(CURLM *multi)
{
    if (const Api *api = loadedCurl(); api && api->loaded && multi)
        return api->multiCleanup(multi);
    return CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_setopt(CURLM *multi, CURLMoption option, ...)
{
    const Api *api = curlForUse();
    if (!api)
        return CURLM_BAD_HANDLE;
    va_list args;
    va_start(args, option);
    CURLMcode result = CURLM_OK;
    switch (argKindOf(option)) {
    case ArgKind::Long:
        result = api->multiSetopt(multi, option, va_arg(args, long));
        break;
    case ArgKind::Pointer:
        result = api->multiSetopt(multi, option, va_arg(args, void *));
        break;
    case ArgKind::Function:
        result = api->multiSetopt(multi, option, va_arg(args, void (*)()));
        break;
    case ArgKind::OffT:
        result = api->multiSetopt(multi, option, va_arg(args, curl_off_t));
        break;
    }
    va_end(args);
    return result;
}

CURLMcode curl_multi_add_handle(CURLM *multi, CURL *easy)
{
    const Api *api = curlForUse();
    return api ? api->multiAddHandle(multi, easy) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_remove_handle(CURLM *multi, CURL *easy)
{
    const Api *api = curlForUse();
    return api ? api->multiRemoveHandle(multi, easy) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_socket_action(CURLM *multi, curl_socket_t socket, int events, int *running)
{
    const Api *api = curlForUse();
    return api ? api->multiSocketAction(multi, socket, events, running) : CURLM_BAD_HANDLE;
}

CURLMsg *curl_multi_info_read(CURLM *multi, int *queued)
{
    const Api *api = curlForUse();
    if (!api) {
        *queued = 0;
        return nullptr;
    }
    return api->multiInfoRead(multi, queued);
}

CURLSH *curl_share_init(void)
{
    const Api *api = curlForUse();
    return api ? api->shareInit() : nullptr;
}

CURLSHcode curl_share_cleanup(CURLSH *share)
{
    if (const Api *api = loadedCurl(); api && api->loaded && share)
        return api->shareCleanup(share);
    return CURLSHE_INVALID;
}

CURLSHcode curl_share_setopt(CURLSH *share, CURLSHoption option, ...)
{
    const Api *api = curlForUse();
    if (!api)
        return CURLSHE_INVALID;
    va_list args;
    va_start(args, option);
    CURLSHcode result = CURLSHE_OK;
    switch (option) {
    case CURLSHOPT_SHARE:
    case CURLSHOPT_UNSHARE:
        result = api->shareSetopt(share, option, va_arg(args, int));
        break;
    case CURLSHOPT_LOCKFUNC:
    case CURLSHOPT_UNLOCKFUNC:
        result = api->shareSetopt(share, option, va_arg(args, void (*)()));
        break;
    default:
        result = api->shareSetopt(share, option, va_arg(args, void *));
        break;
    }
    va_end(args);
    return result;
}

curl_slist *curl_slist_append(curl_slist *list, const char *text)
{
    const Api *api = curlForUse();
    return api ? api->slistAppend(list, text) : nullptr;
}

void curl_slist_free_all(curl_slist *list)
{
    if (const Api *api = loadedCurl(); api && api->loaded && list)
        api->slistFreeAll(list);
}

} // extern "C"
