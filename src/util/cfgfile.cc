// Configuration items: config_item_load and the converters of object-library containers to C
// arrays.
#include <ovutil/cfgfile.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include <ovmsg/messages.h>
#include <ovsvc/svc.h>
#include <ovutil/OVStanzaFileProperties.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

#include "internal/logging.h"
#include "internal/objectlib.h"

namespace {

constexpr char kSourceFile[] = "src/util/cfgfile";

// The statuses a caller gets are message numbers of their own.
static_assert(OV_CFG_S_INVALID_DATA == OV_MSG_CONFIG_STATUS_INVALID_DATA);
static_assert(OV_CFG_S_LOAD_FAILED == OV_MSG_CONFIG_STATUS_LOAD_FAILED);

// The debug line of a catch site, naming the line of the catch.
void logCaught(int line, const char* exceptionName) {
    ovutil_internal::traceCaught(kSourceFile, line, exceptionName);
}

void logOutOfMemory(int line) { ovutil_internal::logOutOfMemoryUTF8(kSourceFile, line); }

}  // namespace

unsigned int config_item_load(const char* fileName, ZStzFileItem_6_0* items, unsigned int count,
                              int flags) {
    try {
        ZStanzaFileProperties_6_0* props =
            OVStanzaFileProperties::getRegisteredPropertiesFor(fileName, flags);
        props->getItems(items, count);
        return OV_CFG_S_OK;
    } catch (ZPropertiesInvalidDataException_6_0& e) {
        logCaught(__LINE__, "ZPropertiesInvalidDataException");
        e.report();
        ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, kSourceFile, __LINE__, "%s", 0,
                                  OV_SVC_ERROR, OV_MSG_CONFIG_INVALID_DATA, fileName);
        return OV_CFG_S_INVALID_DATA;
    } catch (ZException_6_0& e) {
        logCaught(__LINE__, "ZException");
        e.report();
        ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, kSourceFile, __LINE__, "%s%d",
                                  0, OV_SVC_ERROR, OV_MSG_CONFIG_LOAD_FAILED, fileName, 1);
        return OV_CFG_S_LOAD_FAILED;
    } catch (std::bad_alloc&) {
        // The header promises a status, never an exception: running out of memory is a
        // failure to load like any other.
        logCaught(__LINE__, "std::bad_alloc");
        logOutOfMemory(__LINE__);
        return OV_CFG_S_LOAD_FAILED;
    } catch (std::exception&) {
        logCaught(__LINE__, "std::exception");
        ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, kSourceFile, __LINE__, "%s%d",
                                  0, OV_SVC_ERROR, OV_MSG_CONFIG_LOAD_FAILED, fileName, 1);
        return OV_CFG_S_LOAD_FAILED;
    }
}

int makearraylist(const ZArrayList_6_0& list, char**& out) {
    const unsigned long n = list.size();
    out = nullptr;
    if (n >= SIZE_MAX / sizeof(char*)) {
        logOutOfMemory(__LINE__);
        return 0;
    }
    out = static_cast<char**>(std::malloc((n + 1) * sizeof(char*)));
    if (out == nullptr) {
        logOutOfMemory(__LINE__);
        return 0;
    }
    out[n] = nullptr;
    for (unsigned long i = 0; i < n; ++i) {
        const auto* text = dynamic_cast<const ZAbstractString_6_0*>(list.get(i));
        out[i] = strdup(text != nullptr ? ovutil_internal::textOf(*text) : "");
        if (out[i] == nullptr) {
            // The array now reads as ending here; the caller frees what came before.
            logOutOfMemory(__LINE__);
            return 0;
        }
    }
    return 0;
}

int makekvlist(const ZPropertiesKVList_6_0& pairs, kvlist_s_t& out) {
    const unsigned long n = pairs.getItemCount();
    out.items = nullptr;
    out.count = 0;
    if (n == 0) return 0;
    if (n > SIZE_MAX / sizeof(kvlist_entry_s_t)) {
        logOutOfMemory(__LINE__);
        return 0;
    }
    out.items = static_cast<kvlist_entry_s_t*>(std::malloc(n * sizeof(kvlist_entry_s_t)));
    if (out.items == nullptr) {
        logOutOfMemory(__LINE__);
        return 0;
    }
    out.next = out.items;
    for (unsigned long i = 0; i < n; ++i) {
        char* key = strdup(pairs.getItemKey(i));
        char* value = strdup(pairs.getItemValue(i));
        if (key == nullptr || value == nullptr) {
            // The pair is left out; the copy that did succeed must not leak.
            std::free(key);
            std::free(value);
            logOutOfMemory(__LINE__);
            continue;
        }
        out.next->key = key;
        out.next->value = value;
        out.next->key_len = static_cast<uint32_t>(std::strlen(key));
        out.next->value_len = static_cast<uint32_t>(std::strlen(value));
        ++out.next;
        ++out.count;
    }
    return 0;
}
