/// @file
/// I18NCache: a per-process cache of message texts by message number.
///
/// wv_i18n_msg and wv_i18n_msg_utf8 (<ovutil/wvmsg.h>) each keep one cache; this class is
/// exported so that tools can inspect a cache and tests can drive one directly.
///
/// An entry is never removed or changed and a text in the cache is never freed, so every
/// pointer the cache hands out stays valid until the process ends. The cache does not copy
/// the texts it is given: whoever inserts a text gives it up to the cache for good.
///
/// Layout (part of the interface of an exported class): capacity, count, entries, lock, in
/// that order, then the cache's private look-up index. `entries` is an array of `capacity`
/// entries whose first `count` are in use, in ascending order of message number compared as
/// unsigned numbers; it is allocated on the first insert with 1024 entries and grows by 1024
/// entries whenever an insert finds it full.
///
/// Threads: match may run in any number of threads at once, without the lock, while one
/// thread inserts. It does not read `entries` (an insert moves them) but a second table of
/// the same entries, an open-addressed hash table that the insert fills beside the array: an
/// entry is published by storing its text last (release), and a grown table is filled
/// completely before it replaces the old one (release), which is kept until the cache is
/// destroyed, so a reader that still walks it reads valid memory. insert and msgNotFound
/// change the cache: a caller that shares the cache between threads holds `lock` around them
/// (and around the match that decided to insert), as wv_i18n_msg does. dump_wv_i18n_cache
/// takes no lock and runs only while no other thread inserts.
#ifndef OVUTIL_I18NCACHE_H
#define OVUTIL_I18NCACHE_H

#include <ovutil/export.h>
#include <ovutil/wvmsg.h>
#include <ovz/locks.h>

/// A per-process cache of message texts by message number; the file description above gives
/// its layout, the ownership of the texts and the rules for threads.
class OVUTIL_EXPORT I18NCache {
public:
    /// One entry: a message number and its text.
    struct Entry {
        unsigned int number;  ///< the message number
        const char* text;     ///< the cached text
    };

    /// An empty cache: capacity 0, count 0, no array.
    I18NCache();
    /// Frees the array and the look-up tables, not the texts (which may be in use anywhere).
    /// The library's own caches are never destroyed.
    ~I18NCache();
    I18NCache(const I18NCache&) = delete;
    I18NCache& operator=(const I18NCache&) = delete;

    /// Keeps `text` under `number`: the entry goes after every entry whose number is not
    /// greater (an equal number already in the cache keeps its place in front, and match
    /// finds the entry inserted first). When the array is full it is first replaced by one of
    /// 1024 more entries; when that (or the growth of the look-up table) cannot be allocated,
    /// the text is not kept and nothing changes. A null text is not kept either: match could
    /// not tell it from a number the cache does not hold. Moves the entries after the new
    /// one, so an insert costs time linear in the count.
    void insert(unsigned int number, const char* text);
    /// The text of `number`, or null when the cache does not hold it. Safe without the lock
    /// (see above); a reader that races with the growth of the look-up table may miss an
    /// entry inserted meanwhile, so a caller that misses without the lock asks again under it
    /// before it inserts.
    const char* match(unsigned int number) const;
    /// The text of `number` if the cache holds it; else a new text "Unknown message number
    /// (0x%8.8lx)." for the number, which is inserted and returned. Null when no memory is
    /// left for the text.
    const char* msgNotFound(unsigned int number);
    /// Prints "Cache is <capacity> entries, <count> used." and then one line per entry in the
    /// order of the array, "Key <number>, text <text>" (the number as a signed decimal), to
    /// standard output.
    void dump_wv_i18n_cache() const;

    /// The number of entries the array has room for (0 before the first insert); a relaxed
    /// atomic read, safe without the lock.
    int getCapacity() const { return __atomic_load_n(&capacity, __ATOMIC_RELAXED); }
    /// The number of entries in the cache; a relaxed atomic read, safe without the lock.
    int getCount() const { return __atomic_load_n(&count, __ATOMIC_RELAXED); }

private:
    /// Written only under `lock`, with atomic stores, so that the getters read whole values
    /// without it. match reads neither `entries` nor `capacity`.
    int capacity;
    int count;
    Entry* entries;

public:
    /// Serialises the changes of the cache (insert, msgNotFound).
    ZLock_6_0 lock;

private:
    struct Index;
    /// The look-up table that match reads: published with a release store, never changed
    /// after it has been replaced.
    Index* index;
};

#endif  // OVUTIL_I18NCACHE_H
