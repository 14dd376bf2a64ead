// Program start-up (wvmsg_init) and message texts by number, cached per process.

#include <locale.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include <atomic>
#include <new>

#include <ovmsg/msg.h>
#include <ovsvc/svc.h>
#include <ovutil/I18NCache.h>
#include <ovutil/getpath.h>
#include <ovutil/wvmsg.h>
#include <ovz/exceptions.h>
#include <ovz/locks.h>
#include <ovz/strings.h>

#include "internal/objectlib.h"

extern "C" {
const char i18nfailure[35] = "Unknown message number (0x%8.8lx).";
}

namespace {

// The array grows by this many entries whenever it is full.
constexpr int kGrowth = 1024;
// Room for the text of an unknown number.
constexpr size_t kUnknownTextSize = 256;

I18NCache* lcpcache = nullptr;
I18NCache* utf8cache = nullptr;
std::atomic<int> i18n_msg_g_setup{0};
pthread_once_t i18n_msg_g_once_block = PTHREAD_ONCE_INIT;
int init_svc = 0;

// Orders two entries by message number, as unsigned 32-bit numbers.
extern "C" int mycomp(const void* a, const void* b) {
    unsigned int x = static_cast<const I18NCache::Entry*>(a)->number;
    unsigned int y = static_cast<const I18NCache::Entry*>(b)->number;
    return x < y ? -1 : (x > y ? 1 : 0);
}

extern "C" void i18n_msg__init_caches() {
    lcpcache = new I18NCache();
    utf8cache = new I18NCache();
    i18n_msg_g_setup.store(1, std::memory_order_release);
}

void initCaches() {
    if (i18n_msg_g_setup.load(std::memory_order_acquire) == 0)
        pthread_once(&i18n_msg_g_once_block, i18n_msg__init_caches);
}

using CatalogLookup = const char* (*)(unsigned int, unsigned int*);

// One look-up in `cache`, filling it from `catalog`, all under the cache's lock.
const char* cachedText(I18NCache*& cache, unsigned int number, CatalogLookup catalog) {
    try {
        initCaches();
        ZResourceLock_6_0 hold(cache->lock);
        if (const char* text = cache->match(number)) return text;
        unsigned int status = 0;
        // Only the text decides: a default message comes with a non-zero status and is a
        // perfectly good text.
        if (const char* text = catalog(number, &status)) {
            cache->insert(number, text);
            return text;
        }
        return cache->msgNotFound(number);
    } catch (ZException_6_0&) {
        return nullptr;
    } catch (std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

// ---- I18NCache ------------------------------------------------------------------------------

I18NCache::I18NCache() : capacity(0), count(0), entries(nullptr) {}

I18NCache::~I18NCache() { free(entries); }

void I18NCache::insert(unsigned int number, const char* text) {
    if (count == capacity) {
        Entry* grown = static_cast<Entry*>(calloc(static_cast<size_t>(capacity) + kGrowth, sizeof(Entry)));
        if (grown == nullptr) return;
        if (entries != nullptr) memcpy(grown, entries, static_cast<size_t>(capacity) * sizeof(Entry));
        free(entries);
        entries = grown;
        capacity += kGrowth;
    }
    Entry entry{number, text};
    int pos = 0;
    while (pos < count && mycomp(&entries[pos], &entry) <= 0) ++pos;
    memmove(&entries[pos + 1], &entries[pos], static_cast<size_t>(count - pos) * sizeof(Entry));
    entries[pos] = entry;
    ++count;
}

const char* I18NCache::match(unsigned int number) const {
    if (entries == nullptr) return nullptr;
    Entry key{number, nullptr};
    const Entry* found = static_cast<const Entry*>(
        bsearch(&key, entries, static_cast<size_t>(count), sizeof(Entry), mycomp));
    return found != nullptr ? found->text : nullptr;
}

const char* I18NCache::msgNotFound(unsigned int number) {
    if (const char* text = match(number)) return text;
    char* text = static_cast<char*>(malloc(kUnknownTextSize));
    if (text == nullptr) return nullptr;
    snprintf(text, kUnknownTextSize, i18nfailure, static_cast<unsigned long>(number));
    insert(number, text);
    return text;
}

void I18NCache::dump_wv_i18n_cache() const {
    printf("Cache is %d entries, %d used.\n", capacity, count);
    for (int i = 0; i < count; ++i)
        printf("Key %d, text <%s>\n", static_cast<int>(entries[i].number), entries[i].text);
}

// ---- C entry points -------------------------------------------------------------------------

extern "C" {

OVUTIL_EXPORT const char* wv_i18n_msg(unsigned int number) {
    return cachedText(lcpcache, number, ov_msg_get_msg);
}

OVUTIL_EXPORT const char* wv_i18n_msg_utf8(unsigned int number) {
    return cachedText(utf8cache, number, ov_msg_get_msg_utf8);
}

OVUTIL_EXPORT const char* wv_i18n_msgC(unsigned int number) {
    try {
        initCaches();
        ZResourceLock_6_0 hold(lcpcache->lock);
        unsigned int status = 0;
        if (const char* text = ov_msg_get_default_msg(number, &status)) return text;
        return lcpcache->msgNotFound(number);
    } catch (ZException_6_0&) {
        return nullptr;
    } catch (std::bad_alloc&) {
        return nullptr;
    }
}

OVUTIL_EXPORT int wvmsg_init(const char* program_name) {
    if (init_svc != 0) return 1;
    setlocale(LC_ALL, "");
    try {
        // openlog keeps the pointer it is given, so the log is closed before this copy goes
        // away on every way out.
        ZUTF8String_6_0 name(program_name);
        openlog(ovutil_internal::textOf(name), LOG_CONS | LOG_NDELAY, LOG_USER);
        unsigned int status = 0;
        ov_svc_set_progname(ovutil_internal::textOf(name), &status);
        if (status != 0) {
            syslog(LOG_CRIT, "Cannot initialize DCE servicibility messages");
            fprintf(stderr, "Cannot initialize DCE servicibility messages(status 0x%8x)\n", status);
            closelog();
            return 0;
        }
        init_svc = 1;
        ov_svc_init(0, &status);
        if (status != 0) {
            syslog(LOG_CRIT, "Cannot initialize OV default messages");
            fprintf(stderr, "Cannot initialize OV default messages(status 0x%8x)\n", status);
            closelog();
            return 0;
        }
        ovutil_init();
        closelog();
        return 1;
    } catch (ZException_6_0&) {
        closelog();
        return 0;
    }
}

}  // extern "C"
