// The product's serviceability handles, and debug levels: filled in from OV_SVC_DEBUG when a
// handle is first used, changed by ov_svc_set_debug_level.
#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "internal.h"
#include "settings.h"

using ovsvc_internal::DebugEntry;
using ovsvc_internal::DebugSetting;
using ovsvc_internal::parseDebugSetting;
using ovsvc_internal::parseDecimal;

namespace {

ov_svc_subcomp_t bas_table[] = {
    {"general", "Basic services", 0},
    {"memory", "Memory allocation", 0},
    {"paths", "Install paths and common directory", 0},
    {"config", "Start-up configuration", 0},
    {"nls", "National-language paths", 0},
};
ov_svc_subcomp_t wvcore_table[] = {
    {"general", "Utility library", 0},
    {"config", "Configuration files", 0},
    {"locks", "Reader/writer and process locks", 0},
    {"objects", "Attribute lists, maps and objects", 0},
    {"text", "Multibyte text", 0},
};
ov_svc_subcomp_t ras_table[] = {
    {"general", "Reliability and serviceability", 0},
    {"trace", "Object traces", 0},
    {"dump", "Dumps", 0},
    {"exceptions", "Exceptions thrown and caught", 0},
    {"perf", "Performance", 0},
};
ov_svc_subcomp_t ovc_table[] = {
    {"general", "Product configuration", 0},
    {"config", "Configuration items", 0},
    {"fips", "FIPS mode", 0},
    {"ssl", "SSL settings", 0},
};
ov_svc_subcomp_t ovz_table[] = {
    {"general", "Object library", 0},
    {"strings", "Strings and code sets", 0},
    {"collections", "Lists and maps", 0},
    {"properties", "Properties and stanza files", 0},
    {"locks", "Locks", 0},
};

template <size_t N>
constexpr unsigned size(const ov_svc_subcomp_t (&)[N]) {
    return static_cast<unsigned>(N);
}

dce_svc_handle_s_t bas_handle = {"bas", bas_table, size(bas_table), 0};
dce_svc_handle_s_t wvcore_handle = {"wvcore", wvcore_table, size(wvcore_table), 0};
dce_svc_handle_s_t ras_handle = {"ras", ras_table, size(ras_table), 0};
dce_svc_handle_s_t ovc_handle = {"ovc", ovc_table, size(ovc_table), 0};
dce_svc_handle_s_t ovz_handle = {"ovz", ovz_table, size(ovz_table), 0};

// Serialises filling handles in; readers use the atomics of ov_svc_debug_level.
// Made on first use and never destroyed (a function-local static: see State in route.cc).
std::mutex& fillMutex() {
    static std::mutex* const fillMutex = new std::mutex;
    return *fillMutex;
}

// Applies the entries of OV_SVC_DEBUG that concern `h`. Entries that are not understood are
// skipped (a typo in a debug setting must not stop the program); checkDebugEnvironment warns
// about them once.
void applyEnvironment(dce_svc_handle_t h) {
    const char* env = std::getenv("OV_SVC_DEBUG");
    if (!env || !h->component || !h->table) return;
    for (const DebugEntry& e : parseDebugSetting(env).entries) {
        if (e.component != "*" && e.component != h->component) continue;
        for (unsigned i = 0; i < h->table_size; ++i) {
            const char* name = h->table[i].sc_name;
            unsigned index = 0;
            bool match = e.subcomp == "*" || (name && e.subcomp == name) ||
                         (parseDecimal(e.subcomp, index) && index == i);
            if (match) __atomic_store_n(&h->table[i].sc_level, e.level, __ATOMIC_RELAXED);
        }
    }
}

// Whether a product handle of that component lacks the sub-component `subcomp`. Components
// that are not the product's may belong to a caller's own handle, whose table is not known.
bool unknownProductSubcomp(const DebugEntry& e) {
    if (e.component == "*" || e.subcomp == "*") return false;
    for (dce_svc_handle_t h :
         {&bas_handle, &wvcore_handle, &ras_handle, &ovc_handle, &ovz_handle}) {
        if (e.component != h->component) continue;
        unsigned index = 0;
        if (parseDecimal(e.subcomp, index)) return index >= h->table_size;
        for (unsigned i = 0; i < h->table_size; ++i)
            if (h->table[i].sc_name && e.subcomp == h->table[i].sc_name) return false;
        return true;
    }
    return false;
}

// One warning on standard error for each entry of OV_SVC_DEBUG that sets nothing, however
// many handles read the setting.
void warnAboutDebugEnvironment() {
    const char* env = std::getenv("OV_SVC_DEBUG");
    if (!env) return;
    DebugSetting setting = parseDebugSetting(env);
    for (const std::string& entry : setting.rejected)
        ovsvc_internal::warnOnStderr(__FILE__, __LINE__, ovsvc_internal::kMsgUnknownDebug,
                                     entry.c_str());
    for (const DebugEntry& e : setting.entries) {
        if (!unknownProductSubcomp(e)) continue;
        std::string entry = e.component + ":" + e.subcomp + "=" + std::to_string(e.level);
        ovsvc_internal::warnOnStderr(__FILE__, __LINE__, ovsvc_internal::kMsgUnknownDebug,
                                     entry.c_str());
    }
}

// Reading the environment allocates. When memory runs out the handle stays not filled in,
// with the levels it has, and the next use tries again.
void fillIn(dce_svc_handle_t h) {
    if (__atomic_load_n(&h->setup, __ATOMIC_ACQUIRE)) return;
    try {
        ovsvc_internal::checkDebugEnvironment();
        std::lock_guard<std::mutex> guard(fillMutex());
        if (__atomic_load_n(&h->setup, __ATOMIC_RELAXED)) return;
        applyEnvironment(h);
        __atomic_store_n(&h->setup, 1, __ATOMIC_RELEASE);
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

extern "C" {

dce_svc_handle_t bas_svc_handle = &bas_handle;
dce_svc_handle_t wvcore_svc_handle = &wvcore_handle;
dce_svc_handle_t ov_ras_svc_handle = &ras_handle;
dce_svc_handle_t ovc_svc_handle = &ovc_handle;
dce_svc_handle_t ovz_svc_handle = &ovz_handle;

unsigned int ov_svc__debug_fillin2(dce_svc_handle_t handle, unsigned int subcomp) {
    if (!handle) return 0;
    fillIn(handle);
    if (!handle->table || subcomp >= handle->table_size) return 0;
    return __atomic_load_n(&handle->table[subcomp].sc_level, __ATOMIC_RELAXED);
}

void ov_svc_set_debug_level(dce_svc_handle_t handle, unsigned int subcomp, unsigned int level) {
    if (!handle) return;
    fillIn(handle);
    if (!handle->table || subcomp >= handle->table_size) return;
    __atomic_store_n(&handle->table[subcomp].sc_level, level, __ATOMIC_RELAXED);
}

}  // extern "C"

namespace ovsvc_internal {

// Checked again at the next use when memory ran out while checking.
void checkDebugEnvironment() {
    static const bool checked = (warnAboutDebugEnvironment(), true);
    (void)checked;
}

const char* subcompName(dce_svc_handle_t handle, unsigned subcomp) {
    if (!handle || !handle->table || subcomp >= handle->table_size) return "";
    const char* name = handle->table[subcomp].sc_name;
    return name ? name : "";
}

}  // namespace ovsvc_internal
