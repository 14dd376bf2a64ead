// OV_SVC_DEBUG: the parse agrees entry by entry with a small reference reader, and the
// canonical text of the understood entries parses back to the same entries with nothing
// refused.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

using ovsvc_internal::DebugEntry;
using ovsvc_internal::DebugSetting;
using ovsvc_internal::parseDebugSetting;
using ovsvc_internal::renderDebugSetting;

namespace {

bool NameOk(const std::string& s) {
    if (s == "*") return true;
    if (s.empty()) return false;
    for (unsigned char c : s) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '.' || c == '-';
        if (!ok) return false;
    }
    return true;
}

// One entry by hand: scan to the first ':', then to the first '=' after it.
bool ReferenceEntry(const std::string& entry, DebugEntry& out) {
    size_t i = 0;
    std::string component, sub, level;
    while (i < entry.size() && entry[i] != ':') component += entry[i++];
    if (i == entry.size()) return false;
    ++i;
    while (i < entry.size() && entry[i] != '=') sub += entry[i++];
    if (i == entry.size()) return false;
    level = entry.substr(i + 1);
    if (!NameOk(component) || !NameOk(sub) || level.empty() || level.size() > 9) return false;
    unsigned long value = 0;
    for (char c : level) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    out = {component, sub, static_cast<unsigned>(value)};
    return true;
}

DebugSetting Reference(std::string_view text) {
    DebugSetting setting;
    std::string entry;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ',') {
            entry += text[i];
            continue;
        }
        if (!entry.empty()) {
            DebugEntry e;
            if (ReferenceEntry(entry, e))
                setting.entries.push_back(e);
            else
                setting.rejected.push_back(entry);
        }
        entry.clear();
    }
    return setting;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const DebugSetting parsed = parseDebugSetting(input);
    const DebugSetting expected = Reference(input);
    if (parsed.entries != expected.entries || parsed.rejected != expected.rejected)
        __builtin_trap();
    const std::string canonical = renderDebugSetting(parsed.entries);
    const DebugSetting again = parseDebugSetting(canonical);
    if (again.entries != parsed.entries || !again.rejected.empty()) __builtin_trap();
    if (renderDebugSetting(again.entries) != canonical) __builtin_trap();
    return 0;
}
