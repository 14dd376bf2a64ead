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
/// that order. `entries` is an open-addressed hash table of `capacity` slots (a power of two,
/// 1024 on the first insert, doubled whenever half the slots are in use), probed linearly
/// from a multiplicative hash of the number; a slot with a null text is free. A grown table
/// is published whole, and a table it replaces is kept until the cache is destroyed, so a
/// reader that still walks the old one reads valid memory.
///
/// Threads: match may run in any number of threads at once, without the lock, while one
/// thread inserts: an entry is published by storing its text last (release), and a reader
/// that finds the text reads the number that was stored before it. insert and msgNotFound
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
    /// One slot of the table: a message number and its text (null when the slot is free).
    struct Entry {
        unsigned int number;  ///< the message number
        const char* text;     ///< the cached text, stored last; null in a free slot
    };

    /// An empty cache: capacity 0, count 0, no array.
    I18NCache();
    /// Frees the tables, not the texts (which may be in use anywhere). The library's own
    /// caches are never destroyed.
    ~I18NCache();
    I18NCache(const I18NCache&) = delete;
    I18NCache& operator=(const I18NCache&) = delete;

    /// Keeps `text` under `number`. An equal number already in the cache keeps its place in
    /// front: match finds the entry inserted first, and the dump lists equal numbers in the
    /// order they were inserted. When the table would be more than half full it is first
    /// replaced by one of twice the size; when that cannot be allocated, the text is not kept
    /// (nothing else changes). A null text is not kept either: match could not tell it from
    /// a free slot. Amortised constant time.
    void insert(unsigned int number, const char* text);
    /// The text of `number`, or null when the cache does not hold it. Safe without the lock
    /// (see above); a reader that races with the growth of the table may miss an entry that
    /// is being moved, so a caller that misses without the lock asks again under it before it
    /// inserts.
    const char* match(unsigned int number) const;
    /// The text of `number` if the cache holds it; else a new text "Unknown message number
    /// (0x%8.8lx)." for the number, which is inserted and returned. Null when no memory is
    /// left for the text.
    const char* msgNotFound(unsigned int number);
    /// Prints "Cache is <capacity> entries, <count> used." and then one line per entry in
    /// ascending order of number (as unsigned numbers), "Key <number>, text <text>", to
    /// standard output.
    void dump_wv_i18n_cache() const;

    /// The number of slots of the current table (0 before the first insert); a relaxed
    /// atomic read, safe without the lock.
    int getCapacity() const { return __atomic_load_n(&capacity, __ATOMIC_RELAXED); }
    /// The number of entries in the cache; a relaxed atomic read, safe without the lock.
    int getCount() const { return __atomic_load_n(&count, __ATOMIC_RELAXED); }

private:
    /// Written only under `lock`; read with atomic loads by match (capacity, entries) and by
    /// the getters, so readers that do not hold the lock see whole values.
    int capacity;
    int count;
    Entry* entries;

public:
    /// Serialises the changes of the cache (insert, msgNotFound).
    ZLock_6_0 lock;
};

#endif  // OVUTIL_I18NCACHE_H
