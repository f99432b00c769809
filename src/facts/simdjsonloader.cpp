// simdjson, loaded when the first RDAP answer is read rather than when the program starts: its
// loading and bindings cost every run about 400,000 instructions, though a port-43 run or one
// that reads saved answers parses no JSON. The program calls one function of the library, the
// one that picks the parser for this processor; the rest is in its header or reached through
// what that function gives. It is defined here and forwards to the library's own, looked up once,
// on the first call. Were the library missing, every parse reports that the processor is not
// supported, and the answers go to Qt's JSON parser as those simdjson refuses do.

#include "platform/runtimelibrary.h"

#include <simdjson.h>

namespace {

using Active = simdjson::internal::atomic_ptr<const simdjson::implementation>;

// What stands in for the library when it cannot be loaded: no parser can be made.
class Unavailable final : public simdjson::implementation
{
public:
    Unavailable() : implementation("unavailable", "simdjson could not be loaded", 0) {}

    simdjson::error_code create_dom_parser_implementation(
        std::size_t, std::size_t,
        std::unique_ptr<simdjson::internal::dom_parser_implementation> &) const noexcept override
    {
        return simdjson::UNSUPPORTED_ARCHITECTURE;
    }
    simdjson::error_code minify(const uint8_t *, std::size_t, uint8_t *,
                                std::size_t &) const noexcept override
    {
        return simdjson::UNSUPPORTED_ARCHITECTURE;
    }
    bool validate_utf8(const char *, std::size_t) const noexcept override { return false; }
};

Active &loadActive()
{
    // The build's soname (QUORVANE_SIMDJSON_SONAME, libsimdjson.so.N).
    RuntimeLibrary library(QUORVANE_SIMDJSON_SONAME);
    Active &(*active)() = nullptr;
    if (library.resolve("_ZN8simdjson25get_active_implementationEv", active))
        return active();
    static const Unavailable unavailable;
    static Active none(&unavailable);
    return none;
}

} // namespace

namespace simdjson {

internal::atomic_ptr<const implementation> &get_active_implementation()
{
    static Active &active = loadActive();
    return active;
}

} // namespace simdjson
