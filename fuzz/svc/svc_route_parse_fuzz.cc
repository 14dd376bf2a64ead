// A route parses exactly when a small reference reader of the route syntax accepts it, to the
// same kind and path; an accepted route renders to a canonical text that parses back to the
// same route and renders to itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings.h"

using ovsvc_internal::parseRoute;
using ovsvc_internal::renderRoute;
using ovsvc_internal::RouteKind;
using ovsvc_internal::RouteSetting;

namespace {

// ASCII upper case, byte by byte; other bytes stay.
std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool Reference(std::string_view text, RouteSetting& out) {
    const std::string upper = Upper(text);
    const struct {
        const char* keyword;
        RouteKind kind;
    } keywords[] = {{"STDERR", RouteKind::Stderr},
                    {"STDOUT", RouteKind::Stdout},
                    {"DISCARD", RouteKind::Discard},
                    {"SYSLOG", RouteKind::Syslog}};
    for (const auto& k : keywords) {
        if (upper == k.keyword) {
            out = {k.kind, {}};
            return true;
        }
    }
    if (upper.rfind("FILE:", 0) != 0 || text.size() == 5) return false;
    for (size_t i = 5; i < text.size(); ++i)
        if (text[i] == '\0') return false;
    out = {RouteKind::File, std::string(text.substr(5))};
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    RouteSetting parsed{RouteKind::Stdout, "untouched"};
    const RouteSetting before = parsed;
    RouteSetting expected;
    const bool ok = parseRoute(input, parsed);
    if (ok != Reference(input, expected)) __builtin_trap();
    if (!ok) {
        if (!(parsed == before)) __builtin_trap();  // a refused text leaves the route alone
        return 0;
    }
    if (!(parsed == expected)) __builtin_trap();
    const std::string canonical = renderRoute(parsed);
    RouteSetting again;
    if (!parseRoute(canonical, again) || !(again == parsed)) __builtin_trap();
    if (renderRoute(again) != canonical) __builtin_trap();
    // The canonical text differs from the input only in the case of the keyword.
    if (canonical.size() != input.size()) __builtin_trap();
    if (parsed.kind == RouteKind::File && canonical.substr(5) != input.substr(5)) __builtin_trap();
    return 0;
}
