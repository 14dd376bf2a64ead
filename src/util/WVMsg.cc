// Program start-up (wvmsg_init) and message texts by number, cached per process.

#include <locale.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include <cxxabi.h>

#include <atomic>
#include <new>

#include <ovmsg/messages.h>
#include <ovmsg/msg.h>
#include <ovsvc/svc.h>
#include <ovutil/I18NCache.h>
#include <ovutil/getpath.h>
#include <ovutil/wvmsg.h>
#include <ovz/exceptions.h>
#include <ovz/locks.h>
#include <ovz/message_service.h>
#include <ovz/strings.h>

#include "internal/logging.h"
#include "internal/objectlib.h"

extern "C" {
const char i18nfailure[35] = "Unknown message number (0x%8.8lx).";
}

namespace {

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

// One look-up in `cache`. A cached text is found without the lock; a miss takes the lock,
// looks again (another thread may have inserted the number meanwhile, or a growing table
// hid it), and fills the cache from `catalog`.
const char* cachedText(I18NCache*& cache, unsigned int number, CatalogLookup catalog) {
    try {
        initCaches();
        if (const char* text = cache->match(number)) return text;
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
//
// The table behind `entries` is one calloc'd block: a header slot that points to the table it
// replaced (so that the destructor can free the chain), then the `capacity` slots.

namespace {

// The first table's size; later tables double it.
constexpr int kFirstCapacity = 1024;

I18NCache::Entry* slotsOf(void* block) { return static_cast<I18NCache::Entry*>(block) + 1; }
void* blockOf(I18NCache::Entry* slots) { return slots - 1; }

void* retiredOf(void* block) {
    void* retired;
    memcpy(&retired, block, sizeof retired);
    return retired;
}

// The home slot of `number` in a table of `capacity` slots: the top bits of a multiplicative
// hash, which spreads the runs of consecutive numbers that catalogs use.
inline unsigned int homeSlot(unsigned int number, int capacity) {
    const int shift = __builtin_clz(static_cast<unsigned int>(capacity)) + 1;
    return (number * 0x9E3779B1u) >> shift;
}

// Stores an entry in the first free slot of its probe sequence: the number first, then the
// text with release order, which publishes the slot to readers.
void place(I18NCache::Entry* table, int capacity, unsigned int number, const char* text) {
    const unsigned int mask = static_cast<unsigned int>(capacity) - 1;
    unsigned int i = homeSlot(number, capacity);
    while (__atomic_load_n(&table[i].text, __ATOMIC_RELAXED) != nullptr) i = (i + 1) & mask;
    __atomic_store_n(&table[i].number, number, __ATOMIC_RELAXED);
    __atomic_store_n(&table[i].text, text, __ATOMIC_RELEASE);
}

}  // namespace

I18NCache::I18NCache() : capacity(0), count(0), entries(nullptr) {}

I18NCache::~I18NCache() {
    if (entries == nullptr) return;
    void* block = blockOf(entries);
    while (block != nullptr) {
        void* retired = retiredOf(block);
        free(block);
        block = retired;
    }
}

void I18NCache::insert(unsigned int number, const char* text) {
    if (text == nullptr) return;
    if (count >= capacity / 2) {
        if (capacity > (1 << 29)) return;
        const int grownCapacity = capacity == 0 ? kFirstCapacity : capacity * 2;
        void* block = calloc(static_cast<size_t>(grownCapacity) + 1, sizeof(Entry));
        if (block == nullptr) return;
        void* retired = entries != nullptr ? blockOf(entries) : nullptr;
        memcpy(block, &retired, sizeof retired);
        Entry* grown = slotsOf(block);
        if (entries != nullptr) {
            // Start right after a free slot, so that each run of occupied slots is moved from
            // its first slot on: entries of one number then keep their order.
            const unsigned int mask = static_cast<unsigned int>(capacity) - 1;
            unsigned int start = 0;
            while (entries[start].text != nullptr) ++start;
            for (unsigned int k = 1; k <= static_cast<unsigned int>(capacity); ++k) {
                const Entry& e = entries[(start + k) & mask];
                if (e.text != nullptr) place(grown, grownCapacity, e.number, e.text);
            }
        }
        // Readers load capacity before entries: publishing the table first means that a
        // reader never pairs a capacity with a smaller table than the one it was sized for.
        __atomic_store_n(&entries, grown, __ATOMIC_RELEASE);
        __atomic_store_n(&capacity, grownCapacity, __ATOMIC_RELEASE);
    }
    place(entries, capacity, number, text);
    __atomic_store_n(&count, count + 1, __ATOMIC_RELAXED);
}

const char* I18NCache::match(unsigned int number) const {
    const int size = __atomic_load_n(&capacity, __ATOMIC_ACQUIRE);
    const Entry* table = __atomic_load_n(&entries, __ATOMIC_ACQUIRE);
    if (table == nullptr || size == 0) return nullptr;
    // `table` may be newer than `size` (never smaller): probing stays inside the table, and
    // the bound on the steps ends the walk even where the newer table has no free slot
    // among the first `size`.
    const unsigned int mask = static_cast<unsigned int>(size) - 1;
    unsigned int i = homeSlot(number, size);
    for (int step = 0; step < size; ++step, i = (i + 1) & mask) {
        const char* text = __atomic_load_n(&table[i].text, __ATOMIC_ACQUIRE);
        if (text == nullptr) return nullptr;
        if (__atomic_load_n(&table[i].number, __ATOMIC_RELAXED) == number) return text;
    }
    return nullptr;
}

const char* I18NCache::msgNotFound(unsigned int number) {
    if (const char* text = match(number)) return text;
    char* text = static_cast<char*>(malloc(kUnknownTextSize));
    if (text == nullptr) return nullptr;
    snprintf(text, kUnknownTextSize, i18nfailure, static_cast<unsigned long>(number));
    insert(number, text);
    return text;
}

namespace {

// One line of the dump: equal numbers keep their insertion order, which is their order along
// their common probe sequence.
struct DumpLine {
    unsigned int number;
    unsigned int distance;
    const char* text;
};

extern "C" int compareDumpLines(const void* a, const void* b) {
    const DumpLine* x = static_cast<const DumpLine*>(a);
    const DumpLine* y = static_cast<const DumpLine*>(b);
    const I18NCache::Entry ex{x->number, x->text}, ey{y->number, y->text};
    if (int c = mycomp(&ex, &ey)) return c;
    return x->distance < y->distance ? -1 : (x->distance > y->distance ? 1 : 0);
}

}  // namespace

void I18NCache::dump_wv_i18n_cache() const {
    printf("Cache is %d entries, %d used.\n", capacity, count);
    if (entries == nullptr) return;
    const unsigned int mask = static_cast<unsigned int>(capacity) - 1;
    DumpLine* lines =
        static_cast<DumpLine*>(malloc(static_cast<size_t>(count) * sizeof(DumpLine) + 1));
    if (lines == nullptr) {
        // No room to sort: the entries in table order.
        for (int i = 0; i < capacity; ++i)
            if (entries[i].text != nullptr)
                printf("Key %d, text <%s>\n", static_cast<int>(entries[i].number), entries[i].text);
        return;
    }
    size_t n = 0;
    for (unsigned int i = 0; i < static_cast<unsigned int>(capacity); ++i) {
        if (entries[i].text == nullptr) continue;
        const unsigned int number = entries[i].number;
        lines[n++] = {number, (i - homeSlot(number, capacity)) & mask, entries[i].text};
    }
    qsort(lines, n, sizeof(DumpLine), compareDumpLines);
    for (size_t i = 0; i < n; ++i)
        printf("Key %d, text <%s>\n", static_cast<int>(lines[i].number), lines[i].text);
    free(lines);
}

// ---- Start-up -------------------------------------------------------------------------------

namespace {

constexpr char kSourceFile[] = "src/util/WVMsg";
constexpr const char kNoServiceability[] = "Cannot initialize DCE servicibility messages";
constexpr const char kNoDefaultMessages[] = "Cannot initialize OV default messages";
// The status reported when start-up fails for want of memory: the out-of-memory message.
constexpr unsigned int kOutOfMemoryStatus = OV_MSG_OUT_OF_MEMORY;

void traceCaught(int line, const char* className) {
    ovutil_internal::traceCaught(kSourceFile, line, className);
}

// Writes the failure of a start-up step to the system log and to standard error, closes the
// log and gives wvmsg_init's failure result.
int startFailed(const char* what, unsigned int status) {
    syslog(LOG_CRIT, "%s", what);
    fprintf(stderr, "%s(status 0x%8x)\n", what, status);
    closelog();
    return 0;
}

// The steps of wvmsg_init after the locale. Failures the services report return through
// startFailed while the log's copy of the name still exists; exceptions go to the caller.
int startProcess(const char* program_name) {
    // openlog keeps the pointer it is given, so the log is closed before this copy goes away
    // on every way out.
    ZUTF8String_6_0 name(program_name);
    openlog(ovutil_internal::textOf(name), LOG_CONS | LOG_NDELAY, LOG_USER);
    unsigned int status = 0;
    ov_svc_set_progname(ovutil_internal::textOf(name), &status);
    if (status != 0) return startFailed(kNoServiceability, status);
    init_svc = 1;
    ov_svc_init(0, &status);
    if (status != 0) return startFailed(kNoDefaultMessages, status);
    ovutil_init();
    closelog();
    return 1;
}

}  // namespace

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
    unsigned int status;
    try {
        return startProcess(program_name);
    } catch (abi::__forced_unwind&) {
        throw;  // thread cancellation must unwind on
    } catch (ZOutOfMemoryException_6_0&) {
        traceCaught(__LINE__, "ZOutOfMemoryException");
        status = kOutOfMemoryStatus;
    } catch (ZException_6_0&) {
        traceCaught(__LINE__, "ZException");
        status = OVZ_EXCEPTION_MSGID;
    } catch (std::bad_alloc&) {
        status = kOutOfMemoryStatus;
    } catch (...) {
        status = OVZ_EXCEPTION_MSGID;
    }
    // The copy of the name that the log was opened with went away with the exception: close
    // the log first, so that the record names the process by its default identity.
    closelog();
    return startFailed(init_svc != 0 ? kNoDefaultMessages : kNoServiceability, status);
}

}  // extern "C"
