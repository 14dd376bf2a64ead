/** @file
 * The value encoder: scrambles a stored text value so that it cannot be read at a glance, and
 * reads it back. It is not encryption: there is no key, only a fixed filler table.
 *
 * An encoded value starts with the marker "~^+". Encoding a value that already carries the
 * marker, or decoding a value without it, hands the value back unchanged, so either function
 * may be run on any stored value without knowing its state.
 *
 * Encoded form: the marker, then one group per input byte b: the data byte (b + r) mod 256,
 * where r = b mod 7, followed by r * (7 - r) + 1 copies of the filler character symb[r].
 *
 * Threads: the functions keep no state and may be called from any number of threads at once.
 * Memory: every text returned comes from malloc and is released by the caller with free.
 * Errors: nothing is thrown; NULL is returned only when not even a copy of the input can be
 * allocated.
 *
 * Example:
 *
 * @code
 *   char* stored = util_encode("s3cret");      // "~^+" followed by the groups
 *   char* plain = util_decode(stored);         // "s3cret"
 *   free(stored); free(plain);
 * @endcode
 *
 * This header compiles as C and as C++.
 */
#ifndef OVUTIL_ENCODE_H
#define OVUTIL_ENCODE_H

#include <ovutil/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/**
 * The filler table "~^+=?|;": position r stands for the remainder r. Its first three
 * characters are the marker. Points to constant text owned by the library; the coders keep
 * their own copy of the table and do not read it through this pointer.
 */
OVUTIL_EXPORT extern const char* symb;

/**
 * Encodes `value` (a NUL-terminated text, not changed).
 *
 * Returns a new text: the encoded value, or a plain copy of `value` when
 *  - `value` already starts with the marker "~^+" (and is longer than 2 bytes);
 *  - `value` holds the byte 254 (0xFE): its data byte would be 0, which would end the
 *    encoded text and cut the value short on the way back, so the value is kept as it
 *    stands and util_decode gives it back whole (unless it starts with the marker);
 *  - memory for the encoded value runs out.
 * Callers therefore cannot count on the result being encoded. NULL when not even the copy
 * can be allocated, or when `value` is NULL.
 */
OVUTIL_EXPORT char* util_encode(const char* value);

/**
 * Decodes `value` (a NUL-terminated text, not changed).
 *
 * A value of 2 bytes or fewer, or one that does not start with the marker, comes back as a
 * plain copy. Otherwise each group gives one byte; only the first filler character of a
 * group is read, and a last group that is cut short after its first filler character is
 * decoded without complaint. When a data byte is not followed by a filler character (or by
 * the end of the text instead), the function writes "can't decode:<value>" and a line break
 * to standard output and returns a plain copy of `value`. A plain copy is also returned when
 * memory for the result runs out.
 *
 * Returns a new text; NULL when not even the copy can be allocated, or when `value` is NULL.
 */
OVUTIL_EXPORT char* util_decode(const char* value);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* OVUTIL_ENCODE_H */
