// The texts of the serviceability settings: a route ("STDERR", "FILE:/var/log/x.log") and the
// debug levels of OV_SVC_DEBUG ("ras:3=9,wvcore:*=2"). Parsing only: opening files and applying
// levels is the callers' business, so these functions touch nothing outside their arguments.
#ifndef OVSVC_SRC_SETTINGS_H
#define OVSVC_SRC_SETTINGS_H

#include <string>
#include <string_view>
#include <vector>

namespace ovsvc_internal {

enum class RouteKind { Discard, Stderr, Stdout, Syslog, File };

struct RouteSetting {
    RouteKind kind = RouteKind::Discard;
    std::string path;  // RouteKind::File only: the bytes after "FILE:"
    bool operator==(const RouteSetting&) const = default;
};

// "STDERR", "STDOUT", "DISCARD", "SYSLOG" (in any case), or "FILE:" (prefix in any case)
// followed by a non-empty path without NUL bytes, kept byte for byte. False for anything else;
// `out` is then unchanged.
bool parseRoute(std::string_view text, RouteSetting& out);

// The canonical text of a route: the keyword in upper case, or "FILE:" and the path.
std::string renderRoute(const RouteSetting& route);

// One entry of OV_SVC_DEBUG: <component>:<sub-component>=<level>.
struct DebugEntry {
    std::string component;  // a handle's component name, or "*"
    std::string subcomp;    // a sub-component's name, its index in decimal, or "*"
    unsigned level = 0;
    bool operator==(const DebugEntry&) const = default;
};

struct DebugSetting {
    std::vector<DebugEntry> entries;    // the understood entries, in order (later ones win)
    std::vector<std::string> rejected;  // entries not understood, as written
};

// Splits `text` at commas; empty entries are skipped. An entry is understood when it is
// name ':' name '=' level, where a name is "*" or one or more of A-Z a-z 0-9 _ . - and a level
// is 1 to 9 decimal digits.
DebugSetting parseDebugSetting(std::string_view text);

// The canonical text of understood entries: "component:subcomp=level" joined by commas, levels
// in decimal without leading zeros.
std::string renderDebugSetting(const std::vector<DebugEntry>& entries);

// `text` as a decimal number of 1 to 9 digits.
bool parseDecimal(std::string_view text, unsigned& value);

}  // namespace ovsvc_internal

#endif
