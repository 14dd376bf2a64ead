/** @file
 * Attribute lists: the plain record form of a set of named, multi-valued, typed attributes.
 *
 * Callers that do not use the object classes build and read these records directly; the
 * name/value map (<ovutil/NameValueMap.h>) converts itself into one and builds itself from one.
 *
 * Conventions of this family:
 *  1. Every name, text, byte buffer and array reachable from a list belongs to the list and
 *     comes from the C heap (malloc/realloc/free), except the bytes of an ATTR_VALUE_POBJ
 *     value, which belong to the codec's buffer calls (copied with ov_asn_buffer_copy and
 *     released with ov_asn_buffer_free). A caller releases a whole list with attrlist_delete.
 *  2. Attributes are kept sorted in ascending byte order of their upper-cased UTF-8 names, and
 *     no two attributes have names that are equal once upper-cased: a value added under a
 *     name that differs only in case joins the existing attribute, whose name stays as it was
 *     first given.
 *  3. Arrays hold exactly `count` attributes and exactly `nvalues` values, never spare room;
 *     an empty array is NULL.
 *  4. Out of memory: attrlist_add_entry, attrlist_add_value and attrlist_del_value raise the
 *     object library's ZOutOfMemoryException_6_0 (a C++ exception) and leave the list or the
 *     attribute exactly as it was; so does attrlist_find_entry when the names cannot be
 *     upper-cased. No other exception (std::bad_alloc included) leaves these functions. C callers that cannot let an exception pass must make sure
 *     memory does not run out, or call these functions through a C++ frame that catches it.
 *     attrlist_dup reports failure by returning NULL. Nothing here writes log records.
 *  5. A NULL list, attribute, name or value is ignored: the operation does nothing
 *     (attrlist_find_entry returns the list's count, or 0 for a NULL list).
 *  6. A list is used by one thread at a time; callers serialise access.
 *
 * This header compiles as C and as C++.
 */
#ifndef OVUTIL_ATTRLIST_H
#define OVUTIL_ATTRLIST_H

#include <ovutil/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Value type codes. Codes 0, 1 and codes above 5 are carried like a buffer by the list
 * operations; the conversions to and from maps and objects skip them. */
#define ATTR_VALUE_BUFFER 2 /**< `length` bytes at `data` */
#define ATTR_VALUE_POBJ 3   /**< an encoded object: (`length`, `data`) is a codec buffer */
#define ATTR_VALUE_STRING 4 /**< the text in `string`; `length` 0 and `data` NULL */
#define ATTR_VALUE_UINT 5   /**< `length` 4; `data` points to an unsigned 32-bit integer */

/** One value. It holds text (`string` non-NULL) or bytes (`data` non-NULL), or both. */
typedef struct value_s_t {
    unsigned int type;   /**< one of the ATTR_VALUE_* codes */
    char* string;        /**< owned NUL-terminated text, or NULL */
    unsigned int length; /**< number of bytes at `data` */
    void* data;          /**< owned bytes, or NULL */
} value_s_t;

/** One attribute: a name and its values in the order they were added. */
typedef struct attr_s_t {
    char* name;           /**< owned copy of the name as first given */
    unsigned int nvalues; /**< number of values */
    value_s_t* values;    /**< exactly `nvalues` records; NULL when there are none */
} attr_s_t;

/** A list of attributes, sorted by upper-cased name. */
typedef struct attrlist_s_t {
    unsigned int count; /**< number of attributes */
    attr_s_t* attrs;    /**< exactly `count` records; NULL when there are none */
} attrlist_s_t;

/**
 * The index of the attribute whose name equals `name` once both are upper-cased, or the
 * list's `count` when there is none (and for a NULL name). Returns 0 for a NULL list.
 * Throws ZOutOfMemoryException_6_0 when memory runs out while upper-casing.
 */
OVUTIL_EXPORT unsigned int attrlist_find_entry(attrlist_s_t* list, const char* name);

/**
 * Adds a copy of `value` under `name`: to the attribute of that name (case ignored) when the
 * list has one, else to a new attribute placed at its sorted position, named by a copy of
 * `name` as given. `name` and `value` stay the caller's.
 * Throws ZOutOfMemoryException_6_0, leaving the list unchanged, when memory runs out or when
 * the value cannot be copied (see attrlist_add_value).
 */
OVUTIL_EXPORT void attrlist_add_entry(attrlist_s_t* list, char* name, value_s_t* value);

/**
 * Appends a copy of `value` to the values of `attr`. Texts and bytes are copied; the bytes of
 * an ATTR_VALUE_POBJ value through the codec's buffer copy.
 * Throws ZOutOfMemoryException_6_0, leaving `attr` unchanged, when memory runs out, when the
 * copy would hold neither text nor bytes (for instance a string value whose `string` is
 * NULL), or when `value` claims `length` bytes but has no `data`.
 */
OVUTIL_EXPORT void attrlist_add_value(attr_s_t* attr, value_s_t* value);

/**
 * Removes and releases value `index` of `attr`; later values move down by one. The attribute
 * stays in its list even when no value is left. An index at or past `nvalues` does nothing.
 * Throws ZOutOfMemoryException_6_0 before changing anything when the smaller array cannot
 * be allocated.
 */
OVUTIL_EXPORT void attrlist_del_value(attr_s_t* attr, unsigned int index);

/**
 * Releases everything `attr` owns: its values (last to first), their texts and bytes, its
 * name and its value array. The record itself is neither released nor reset.
 */
OVUTIL_EXPORT void attr_free(attr_s_t* attr);

/**
 * Releases the whole list *list (every attribute in index order, the array, the record) and
 * sets *list to NULL. Does nothing when `list` is NULL; sets nothing but *list when *list is
 * NULL.
 */
OVUTIL_EXPORT void attrlist_delete(attrlist_s_t** list);

/**
 * A deep copy of `list` in new records, which the caller releases with attrlist_delete.
 * NULL for a NULL list, and NULL when any part of the copy fails (memory, or a value that
 * cannot be copied); nothing of a failed copy is left allocated. Throws nothing.
 */
OVUTIL_EXPORT attrlist_s_t* attrlist_dup(const attrlist_s_t* list);

/**
 * Stores in `to->data` a new copy of the codec buffer (`from->length`, `from->data`) of an
 * ATTR_VALUE_POBJ value and sets `to->length` to its length; on failure `to->data` is NULL
 * and `to->length` 0. Nothing else of `to` is touched.
 */
OVUTIL_EXPORT void attrlist_copy_value_pobj(const value_s_t* from, value_s_t* to);

/** Releases the codec buffer (`length`, `data`) of an ATTR_VALUE_POBJ value. */
OVUTIL_EXPORT void attr_free_value_pobj(value_s_t value);

/** A malloc'ed copy of `text` that the caller frees; NULL for NULL or when memory runs out. */
OVUTIL_EXPORT char* loc_strdup(const char* text);

#ifdef __cplusplus
}
#endif

#endif /* OVUTIL_ATTRLIST_H */
