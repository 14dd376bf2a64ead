// I18NCache: a per-process cache of message texts, sorted by message number.
//
// wv_i18n_msg and wv_i18n_msg_utf8 (<ovutil/wvmsg.h>) each keep one cache; this class is
// exported so that tools can inspect a cache and tests can drive one directly.
//
// An entry is never removed or changed and a text in the cache is never freed, so every
// pointer the cache hands out stays valid until the process ends. The cache does not copy
// the texts it is given: whoever inserts a text gives it up to the cache for good.
//
// Threads: insert, match and msgNotFound take no lock of their own; a caller that shares a
// cache between threads holds `lock` around the whole look-up, as wv_i18n_msg does.
// dump_wv_i18n_cache takes no lock either.
#ifndef OVUTIL_I18NCACHE_H
#define OVUTIL_I18NCACHE_H

#include <ovutil/export.h>
#include <ovutil/wvmsg.h>
#include <ovz/locks.h>

class OVUTIL_EXPORT I18NCache {
public:
    struct Entry {
        unsigned int number;
        const char* text;
    };

    // An empty cache: capacity 0, count 0, no array.
    I18NCache();
    // Frees the array, not the texts (which may be in use anywhere). The library's own caches
    // are never destroyed.
    ~I18NCache();
    I18NCache(const I18NCache&) = delete;
    I18NCache& operator=(const I18NCache&) = delete;

    // Keeps `text` under `number`, after any entries of the same number. The array grows by
    // 1024 entries when full; when it cannot grow, the text is not kept (nothing else
    // changes).
    void insert(unsigned int number, const char* text);
    // The text of `number`, or null when the cache does not hold it.
    const char* match(unsigned int number) const;
    // The text of `number` if the cache holds it; else a new text "Unknown message number
    // (0x%8.8lx)." for the number, which is inserted and returned. Null when no memory is
    // left for the text.
    const char* msgNotFound(unsigned int number);
    // Prints "Cache is <capacity> entries, <count> used." and then one line per entry,
    // "Key <number>, text <text>", to standard output.
    void dump_wv_i18n_cache() const;

    int getCapacity() const { return capacity; }
    int getCount() const { return count; }

    // Guards the cache for one whole look-up.
    ZLock_6_0 lock;

private:
    int capacity;
    int count;
    Entry* entries;
};

#endif  // OVUTIL_I18NCACHE_H
