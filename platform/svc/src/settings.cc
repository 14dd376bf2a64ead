// Parsing and canonical rendering of routes and debug settings.
#include "settings.h"

#include <strings.h>

namespace ovsvc_internal {

namespace {

struct Keyword {
    const char* text;
    RouteKind kind;
};
constexpr Keyword kKeywords[] = {
    {"STDERR", RouteKind::Stderr},
    {"STDOUT", RouteKind::Stdout},
    {"DISCARD", RouteKind::Discard},
    {"SYSLOG", RouteKind::Syslog},
};
constexpr std::string_view kFilePrefix = "FILE:";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

bool isName(std::string_view s) {
    if (s == "*") return true;
    if (s.empty()) return false;
    for (char c : s)
        if (!isNameChar(c)) return false;
    return true;
}

}  // namespace

bool parseDecimal(std::string_view text, unsigned& value) {
    if (text.empty() || text.size() > 9) return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    value = v;
    return true;
}

bool parseRoute(std::string_view text, RouteSetting& out) {
    for (const Keyword& k : kKeywords) {
        if (equalsIgnoringCase(text, k.text)) {
            out = {k.kind, {}};
            return true;
        }
    }
    if (text.size() > kFilePrefix.size() &&
        equalsIgnoringCase(text.substr(0, kFilePrefix.size()), kFilePrefix)) {
        std::string_view path = text.substr(kFilePrefix.size());
        // A NUL would cut the path short where it is opened.
        if (path.find('\0') != std::string_view::npos) return false;
        out = {RouteKind::File, std::string(path)};
        return true;
    }
    return false;
}

std::string renderRoute(const RouteSetting& route) {
    if (route.kind == RouteKind::File) return std::string(kFilePrefix) + route.path;
    for (const Keyword& k : kKeywords)
        if (k.kind == route.kind) return k.text;
    return {};
}

DebugSetting parseDebugSetting(std::string_view text) {
    DebugSetting setting;
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view entry = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (entry.empty()) continue;
        size_t colon = entry.find(':');
        size_t equals =
            colon == std::string_view::npos ? std::string_view::npos : entry.find('=', colon);
        DebugEntry parsed;
        if (equals == std::string_view::npos || !isName(entry.substr(0, colon)) ||
            !isName(entry.substr(colon + 1, equals - colon - 1)) ||
            !parseDecimal(entry.substr(equals + 1), parsed.level)) {
            setting.rejected.emplace_back(entry);
            continue;
        }
        parsed.component = entry.substr(0, colon);
        parsed.subcomp = entry.substr(colon + 1, equals - colon - 1);
        setting.entries.push_back(std::move(parsed));
    }
    return setting;
}

std::string renderDebugSetting(const std::vector<DebugEntry>& entries) {
    std::string text;
    for (const DebugEntry& e : entries) {
        if (!text.empty()) text += ',';
        text += e.component;
        text += ':';
        text += e.subcomp;
        text += '=';
        text += std::to_string(e.level);
    }
    return text;
}

}  // namespace ovsvc_internal
