// libidn2, loaded when the first name that is not plain ASCII letters, digits and hyphens is
// asked rather than when the program starts: with libunistring it costs every run close to a
// million instructions of loading and relocation, though most lists hold no such name. The
// program is not linked with the library: the functions the query parser calls are defined here
// and forward to the library's own, looked up once, on the first call.

#include "platform/runtimelibrary.h"

#include <idn2.h>

namespace {

// libidn2's soname has been 0 since its first release (Debian's libidn2-0).
constexpr char IdnaSoname[] = "libidn2.so.0";

struct Api
{
    bool loaded = false;
    QByteArray error; // as UTF-8, what idn2_strerror gives when the library is missing
    int (*lookup)(const uint8_t *, uint8_t **, int) = nullptr;
    const char *(*strerror)(int) = nullptr;
    void (*free)(void *) = nullptr;
};

Api loadApi()
{
    Api api;
    RuntimeLibrary library(IdnaSoname);
    api.loaded = library.resolve("idn2_lookup_u8", api.lookup) &&
                 library.resolve("idn2_strerror", api.strerror) &&
                 library.resolve("idn2_free", api.free);
    api.error = (QStringLiteral("cannot load ") + QLatin1StringView(IdnaSoname) +
                 QStringLiteral(": ") + library.error())
                    .toUtf8();
    return api;
}

const Api &idna()
{
    static const Api api = loadApi();
    return api;
}

} // namespace

extern "C" {

int idn2_lookup_u8(const uint8_t *src, uint8_t **lookupname, int flags)
{
    if (!idna().loaded) {
        *lookupname = nullptr;
        return IDN2_ICONV_FAIL;
    }
    return idna().lookup(src, lookupname, flags);
}

const char *idn2_strerror(int rc)
{
    return idna().loaded ? idna().strerror(rc) : idna().error.constData();
}

void idn2_free(void *ptr)
{
    if (idna().loaded)
        idna().free(ptr);
}

} // extern "C"
