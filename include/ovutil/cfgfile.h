/** @file
 * Configuration items: read a stanza file in one call, and turn the object library's
 * containers into malloc-owned C arrays.
 *
 * @code
 *   ZLCString_6_0 value;
 *   ZStzFileItem_6_0 item = {ZSTZ_ITEM_LCSTRING, "ssl", "ssl-enable-fips", 0, &value, 0};
 *   if (config_item_load("/opt/Orvan/etc/ov.conf", &item, 1, 0) == 0) ... value ...
 * @endcode
 *
 * Conventions of this family:
 *  1. Every array, key and value made here comes from malloc or strdup and belongs to the
 *     caller, who frees each string and then the array with free(). The source containers
 *     are only read.
 *  2. The converters always return 0 and report failure (out of memory) only through
 *     serviceability: the caller tells it by a NULL array, a NULL element, or a count below
 *     the source's.
 *  3. No state of their own: callable from any thread. A file's properties object is the
 *     registry's and is shared by every caller of that file name.
 *
 * The records compile as C and as C++; the functions take the object library's C++ types
 * and are declared for C++ only.
 */
#ifndef OVUTIL_CFGFILE_H
#define OVUTIL_CFGFILE_H

#include <stdint.h>

#include <ovutil/export.h>

/** Status values of config_item_load. */
#define OV_CFG_S_OK 0u
/** The file holds data that the stanza-file format rejects (message 0x1354A0C3 logged). */
#define OV_CFG_S_INVALID_DATA 0x1354A0CAu
/** Any other failure of the object library, such as a missing file (0x1354A09A logged). */
#define OV_CFG_S_LOAD_FAILED 0x1354A0C8u

/** One key/value pair of a kvlist_s_t. */
typedef struct kvlist_entry_s_t {
    char* key;          /**< strdup copy of the key, freed by the caller */
    char* value;        /**< strdup copy of the value, freed by the caller */
    uint32_t key_len;   /**< strlen(key) */
    uint32_t value_len; /**< strlen(value) */
} kvlist_entry_s_t;

/** Key/value pairs as filled by makekvlist. */
typedef struct kvlist_s_t {
    uint32_t user_word;      /**< the caller's own; makekvlist leaves it alone */
    int32_t count;           /**< entries filled */
    kvlist_entry_s_t* items; /**< `count` packed entries, or NULL */
    kvlist_entry_s_t* next;  /**< the entry after the last filled one */
} kvlist_s_t;

#ifdef __cplusplus

#include <ovz/collections.h>
#include <ovz/properties.h>

/**
 * Opens `fileName` through the product's stanza-file registry (so that a file of an earlier
 * release is upgraded on its first load; `flags` goes to the registry unchanged) and fills
 * the `count` items of `items` with getItems of the object library.
 * Returns 0; OV_CFG_S_INVALID_DATA when the file's data is not valid; OV_CFG_S_LOAD_FAILED
 * on any other failure (missing or unreadable file, a path that is no regular file, a refused
 * item, memory that runs out: std::bad_alloc is logged as out of memory, 0x10652065).
 * Failures are logged, never thrown, and the table is not reset.
 */
OVUTIL_EXPORT unsigned int config_item_load(const char* fileName, ZStzFileItem_6_0* items,
                                            unsigned int count, int flags);

/**
 * Sets `out` to a new array of list.size() + 1 pointers: strdup copies of the list's strings
 * in order (an element that is not a string, or has null text, is copied as ""), then NULL.
 * Out of memory: `out` is NULL when the array itself could not be allocated; when a copy
 * failed, that element is NULL and the elements after it are not set. Always returns 0.
 */
OVUTIL_EXPORT int makearraylist(const ZArrayList_6_0& list, char**& out);

/**
 * Fills out.count, out.items and out.next with strdup copies of the pairs (out.user_word is
 * not touched). No pairs: items NULL, count 0, nothing allocated. Out of memory: the array
 * NULL and count 0, or a pair that could not be copied is left out and the entries stay
 * packed (count below the pair count). Always returns 0.
 */
OVUTIL_EXPORT int makekvlist(const ZPropertiesKVList_6_0& pairs, kvlist_s_t& out);

#endif /* __cplusplus */

#endif /* OVUTIL_CFGFILE_H */
