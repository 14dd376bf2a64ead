// Program start-up (wvmsg_init) and message texts by number, cached per process.

#include <locale.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cxxabi.h>

#include <atomic>
#include <cstdint>
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

// The caches live in static storage: making them needs no memory, so the once-routine cannot
// fail (an exception must not unwind through pthread_once, and the once-control would not run
// the routine again). Never destroyed.
alignas(I18NCache) unsigned char cacheStorage[2][sizeof(I18NCache)];

extern "C" void i18n_msg__init_caches() {
    lcpcache = new (cacheStorage[0]) I18NCache();
    utf8cache = new (cacheStorage[1]) I18NCache();
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
// Two tables hold the same entries. `entries` is the sorted array of the cache's layout, read
// by the dump and by callers that inspect the cache; an insert moves its tail, so it is read
// only while nobody inserts. The look-up index is an open-addressed hash table in one calloc'd
// block (a header, then the slots), probed linearly from a multiplicative hash of the number
// and never more than half full; a slot with a null text is free. Readers search the index
// without the lock: a slot is filled by storing the number and then the text (release), and a
// grown index is filled before it is published (release). The index it replaced is left as it
// was and freed only with the cache, since readers may still be walking it.

namespace {

// The array grows by this many entries; the first insert allocates them.
constexpr int kGrowth = 1024;
// The first index's slots; later ones double it.
constexpr unsigned int kFirstIndexSlots = 1024;
// Beyond this many slots the index does not grow (and the cache takes no more entries).
constexpr unsigned int kMostIndexSlots = 1u << 30;

}  // namespace

// The key of the index's hash: drawn once per process (thread-safe: a function-local static)
// from the system's random source; without one, from the clock and the process id, which
// still differ between processes.
namespace {

struct IndexKey {
    std::uint64_t multiplier;  // odd
    std::uint64_t addend;
};

const IndexKey& indexKey() {
    static const IndexKey key = [] {
        std::uint64_t words[2] = {0, 0};
        if (getrandom(words, sizeof words, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof words)) {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            words[0] = (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                       static_cast<std::uint64_t>(now.tv_nsec) ^
                       (static_cast<std::uint64_t>(getpid()) << 40);
            words[1] = words[0] * 0x9E3779B97F4A7C15u;
        }
        return IndexKey{words[0] | 1, words[1]};
    }();
    return key;
}

}  // namespace

struct I18NCache::Index {
    Index* replaced;     // the index this one replaced (freed with the cache)
    unsigned int mask;   // the number of slots, a power of two, less 1
    unsigned int shift;  // 32 less log2 of the number of slots

    Entry* slots() { return reinterpret_cast<Entry*>(this + 1); }
    const Entry* slots() const { return reinterpret_cast<const Entry*>(this + 1); }

    // The home slot of `number`: the top bits of a multiply-add hash in 64 bits keyed with
    // the process's random multiplier and addend, which spreads the runs of consecutive
    // numbers that catalogs use, and leaves whoever chooses the numbers asked for (a caller
    // may pass on numbers from outside) no way to know which of them share a home.
    unsigned int home(unsigned int number) const {
        const IndexKey& key = indexKey();
        return static_cast<unsigned int>((key.multiplier * number + key.addend) >> (shift + 32));
    }

    // A new empty index of `slots` slots (a power of two), or null when there is no memory.
    static Index* make(unsigned int slots) {
        void* block = calloc(1, sizeof(Index) + static_cast<size_t>(slots) * sizeof(Entry));
        if (block == nullptr) return nullptr;
        Index* index = static_cast<Index*>(block);
        index->mask = slots - 1;
        index->shift = static_cast<unsigned int>(__builtin_clz(slots)) + 1;
        return index;
    }

    // Stores an entry in the first free slot of its probe sequence, so that among equal
    // numbers the one placed first is found first. The text is stored last, with release
    // order: that publishes the slot to readers.
    void place(unsigned int number, const char* text) {
        Entry* table = slots();
        unsigned int i = home(number);
        while (__atomic_load_n(&table[i].text, __ATOMIC_RELAXED) != nullptr) i = (i + 1) & mask;
        __atomic_store_n(&table[i].number, number, __ATOMIC_RELAXED);
        __atomic_store_n(&table[i].text, text, __ATOMIC_RELEASE);
    }
};

I18NCache::I18NCache() : capacity(0), count(0), entries(nullptr), index(nullptr) {}

I18NCache::~I18NCache() {
    free(entries);
    while (index != nullptr) {
        Index* replaced = index->replaced;
        free(index);
        index = replaced;
    }
}

void I18NCache::insert(unsigned int number, const char* text) {
    if (text == nullptr) return;
    // Whatever can fail is allocated before anything changes, so that a failure drops the
    // insert and leaves the cache as it was.
    const unsigned int slots = index != nullptr ? index->mask + 1 : 0;
    Index* grownIndex = nullptr;
    if (2 * (static_cast<unsigned int>(count) + 1) > slots) {
        if (slots >= kMostIndexSlots) return;
        grownIndex = Index::make(slots == 0 ? kFirstIndexSlots : slots * 2);
        if (grownIndex == nullptr) return;
    }
    if (count == capacity) {
        // realloc keeps the old array when it fails; nothing reads the array without the
        // lock, so it may move.
        Entry* grown = static_cast<Entry*>(
            realloc(entries, (static_cast<size_t>(capacity) + kGrowth) * sizeof(Entry)));
        if (grown == nullptr) {
            free(grownIndex);
            return;
        }
        memset(grown + capacity, 0, kGrowth * sizeof(Entry));
        entries = grown;
        __atomic_store_n(&capacity, capacity + kGrowth, __ATOMIC_RELAXED);
    }

    if (grownIndex != nullptr) {
        // Filled in array order, in which equal numbers stand as they were inserted, and
        // published whole.
        for (int i = 0; i < count; ++i) grownIndex->place(entries[i].number, entries[i].text);
        grownIndex->replaced = index;
        __atomic_store_n(&index, grownIndex, __ATOMIC_RELEASE);
    }

    // After the last entry that is not greater: a binary search in mycomp's order.
    const Entry key{number, text};
    int low = 0, high = count;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (mycomp(&entries[mid], &key) <= 0)
            low = mid + 1;
        else
            high = mid;
    }
    memmove(&entries[low + 1], &entries[low], static_cast<size_t>(count - low) * sizeof(Entry));
    entries[low] = key;
    index->place(number, text);
    __atomic_store_n(&count, count + 1, __ATOMIC_RELAXED);
}

const char* I18NCache::match(unsigned int number) const {
    const Index* table = __atomic_load_n(&index, __ATOMIC_ACQUIRE);
    if (table == nullptr) return nullptr;
    // Never more than half full: the walk ends at a free slot.
    const Entry* slot = table->slots();
    for (unsigned int i = table->home(number);; i = (i + 1) & table->mask) {
        const char* text = __atomic_load_n(&slot[i].text, __ATOMIC_ACQUIRE);
        if (text == nullptr) return nullptr;
        if (__atomic_load_n(&slot[i].number, __ATOMIC_RELAXED) == number) return text;
    }
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
