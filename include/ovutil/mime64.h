/** @file
 * Base64 coding of byte buffers (standard alphabet, "=" padding, one line), used to keep
 * binary values as text in name/value maps.
 *
 * The functions keep no state and may be called from any number of threads at once.
 *
 * Example:
 *
 * @code
 *   char* text = mime64_new_encode(bytes, n);          // "3q2+7w==" for DE AD BE EF
 *   char* back = NULL; unsigned int back_len = 0;
 *   mime64_new_decode(text, (int)strlen(text), &back, &back_len);
 *   free(text); free(back);
 * @endcode
 */
#ifndef OVUTIL_MIME64_H
#define OVUTIL_MIME64_H

#include <ovutil/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/** The 64 characters of the alphabet, indexed by 6-bit value, followed by a NUL. */
OVUTIL_EXPORT extern const char new_alphabet[65];

/** The 6-bit value of each 7-bit character code, 255 for characters outside the code.
 * The inverse of new_alphabet, except that "-" also stands for 63, like "/". */
OVUTIL_EXPORT extern const unsigned char new_reverse_alphabet[128];

/** Entry k has the k+1 low bits set: 0x01, 0x03, ..., 0xFF. */
OVUTIL_EXPORT extern const unsigned char new_bitmasks[8];

/** Encodes `length` bytes at `data` as base64 text ending in a NUL, padded with "=" to a
 * multiple of 4 characters, without line breaks. `data` may be NULL when `length` is 0.
 * Returns a new text that the caller releases with free, or NULL when memory runs out. */
OVUTIL_EXPORT char* mime64_new_encode(const unsigned char* data, unsigned int length);

/** Decodes `length` bytes of base64 text (no NUL needed) into a new buffer.
 * *result receives the buffer, which the caller releases with free and which is not
 * NUL-terminated; *result_length the number of decoded bytes.
 * Decoding is lenient: characters outside the alphabet (spaces, line breaks, anything else)
 * are skipped, "-" is read like "/", and the first "=" ends the data: nothing after it is
 * read. A last group of 2 or 3 characters gives 1 or 2 bytes; a lone last character gives
 * none.
 * A NULL text, a length of 0 or below, or a failed allocation gives *result NULL and
 * *result_length 0. Nothing else is reported. Either result pointer may be NULL, in which
 * case nothing is decoded. */
OVUTIL_EXPORT void mime64_new_decode(const char* text, int length, char** result,
                                     unsigned int* result_length);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* OVUTIL_MIME64_H */
