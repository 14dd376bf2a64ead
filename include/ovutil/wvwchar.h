/** @file
 * Multibyte-safe character checks, search-filter quoting and a quoting printf.
 *
 * Texts are walked character by character in UTF-8 through the object library's code-set
 * handle, so that only characters one byte long are ever rejected or quoted: a byte that
 * belongs to a multibyte character is never taken for a special character, whatever its
 * value. Quoting writes a listed character as a backslash and two lower-case hexadecimal
 * digits, the escape form of directory search filter values ("(" becomes "\28", "*" "\2a",
 * a backslash "\5c").
 *
 * The character lists the wrappers use:
 * @code{.unparsed}
 *   wv_mbs_validpatchars  rejects  ? ( ) : \        (a search pattern: "*" allowed)
 *   wv_mbs_validpchars    rejects  * ? ( ) : \      (a plain name)
 *   wv_mbs_patquote, %P   quotes   ( ) \            ("*" stays a wildcard)
 *   wv_mbs_nopatquote, %Q quotes   * ( ) \
 *   %L                    quotes   ( )
 *   %M                    quotes   * ( )
 *   %A                    puts a backslash before  #
 * @endcode
 *
 * Threads: the functions keep no state and may be called from any number of threads at once.
 * Errors: the checks answer 1 (acceptable) or 0; the quoting functions return a new text or
 * NULL, with nothing left allocated. No function throws, except utf8_validchars for a
 * reject list it must refuse (see there).
 *
 * Example: a user-supplied name in a search filter
 *
 * @code
 *   char* filter = wv_mbs_sprintf("(&(objectclass=%s)(cn=%Q))", "person", name);
 *   if (filter == NULL) ... the name is not valid UTF-8, or memory ran out ...
 *   free(filter);
 * @endcode
 *
 * This header compiles as C and as C++.
 */
#ifndef OVUTIL_WVWCHAR_H
#define OVUTIL_WVWCHAR_H

#include <ovutil/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Checks ----------------------------------------------------------------------------- */

/**
 * The general check: 1 when no one-byte character of `text` occurs in `reject` and, when
 * `nocontrol` is not 0, none is a control byte (0x01 to 0x1F); else 0.
 *
 * Characters of two or more bytes are always acceptable. A byte that does not start a valid
 * UTF-8 character counts as a one-byte character that is acceptable without being looked
 * up; a text that ends inside a character is not acceptable. The empty text is acceptable.
 * A NULL `text` is not acceptable (0); a NULL `reject` rejects nothing.
 */
OVUTIL_EXPORT int wv_mbs_validchars_int(const char* text, const char* reject, int nocontrol);

/** wv_mbs_validchars_int(text, reject, 0): control bytes are acceptable unless listed. */
OVUTIL_EXPORT int wv_mbs_validchars2(const char* text, const char* reject);

/** wv_mbs_validchars_int(text, reject, 1): control bytes are never acceptable. */
OVUTIL_EXPORT int wv_mbs_validpchars2(const char* text, const char* reject);

/**
 * A search pattern: no control byte and none of  ? ( ) : \  ("*" is allowed, as the
 * wildcard). wv_mbs_validchars_int(text, "?():\\", 1).
 */
OVUTIL_EXPORT int wv_mbs_validpatchars(const char* text);

/**
 * A plain name: no control byte and none of  * ? ( ) : \ .
 * wv_mbs_validchars_int(text, "*?():\\", 1).
 */
OVUTIL_EXPORT int wv_mbs_validpchars(const char* text);

/**
 * An allow list: 1 when every one-byte character of `text` occurs in `allowed`; characters
 * of two or more bytes are always acceptable. The empty text is acceptable.
 *
 * Explains what it finds in debug lines of sub-component 0 of wvcore_svc_handle at level 1,
 * written only when that sub-component's debug level is not 0:
 * @code{.unparsed}
 *   "premature end of string"               the text ends inside a character (result 0);
 *   "invalid multibyte hibit-set: %s"       a byte that starts no valid character, with the
 *                                           text from that byte on (acceptable; goes on);
 *   "invalid single byte character: %s"     a one-byte character not in `allowed`, with the
 *                                           text from it on (result 0).
 * @endcode
 * A NULL `text` is not acceptable (0); a NULL `allowed` allows no one-byte character.
 */
OVUTIL_EXPORT int wv_mbs_checkchars2(const char* text, const char* allowed);

/**
 * Finds the first one-byte character of `text` whose byte value is `c`, like strchr, but
 * never inside a multibyte character. A byte that starts no valid character counts as a
 * one-byte character and may be found. The search ends with NULL at the end of the text or
 * where the text ends inside a character. A `c` of 0 or outside 0 to 255, an empty or a
 * NULL `text` give NULL.
 *
 * Returns a pointer into `text` (not a copy), or NULL.
 */
OVUTIL_EXPORT char* wv_mb_strchr(const char* text, int c);

/**
 * 1 when the UTF-8 `text` is not empty, holds no control byte (0x01 to 0x1F) and none of the
 * bytes of `reject`; else 0. A NULL or empty `reject` rejects nothing but control bytes.
 * Bytes of 0x80 and above in `text` are not examined: in UTF-8 they are never a one-byte
 * character.
 *
 * `reject` must list one-byte characters only. Its bytes are taken in order; on reaching one
 * of 0x80 or above (before a byte that occurs in `text`), the function writes the debug line
 * "ZInvalidParameterException Exception thrown." (sub-component 3 of ov_ras_svc_handle, when
 * its level is above 8) and throws ZInvalidParameterException_6_0 of the object library.
 * This is the one exception that leaves a C entry point of this header: C++ callers may
 * catch it; C callers must never pass such a list. A NULL `text` gives 0.
 */
OVUTIL_EXPORT int utf8_validchars(const char* text, const char* reject);

/* ---- Quoting ---------------------------------------------------------------------------- */

/**
 * A copy of `text` in which every one-byte character that occurs in `quote` is written as a
 * backslash and its two lower-case hexadecimal digits; everything else is copied unchanged.
 *
 * Returns a new NUL-terminated text that the caller releases with free; an empty text gives
 * an empty text. Returns NULL, with nothing left allocated, when `text` holds a byte that
 * starts no valid UTF-8 character or ends inside a character, when memory runs out, or when
 * `text` is NULL. A NULL `quote` quotes nothing.
 */
OVUTIL_EXPORT char* wv_mbs_patquote2(const char* text, const char* quote);

/** wv_mbs_patquote2(text, "()\\"): for a search pattern, "*" stays a wildcard. */
OVUTIL_EXPORT char* wv_mbs_patquote(const char* text);

/** wv_mbs_patquote2(text, "*()\\"): for a literal value, "*" is quoted too. */
OVUTIL_EXPORT char* wv_mbs_nopatquote(const char* text);

/**
 * Builds a text from `format` and text arguments, quoting each argument as its conversion
 * says. Each conversion is a percent sign and one letter and takes one `const char*`:
 * @code{.unparsed}
 *   %s  the argument copied unchanged
 *   %Q  *  (  )  \  quoted as backslash and two hexadecimal digits
 *   %P  (  )  \     quoted the same way ("*" stays a wildcard)
 *   %M  *  (  )     quoted the same way
 *   %L  (  )        quoted the same way ("*" and backslash copied)
 *   %A  #           preceded by a backslash
 * @endcode
 * There are no flags, widths, precisions or length modifiers. Every other character of the
 * format is copied byte for byte.
 *
 * Returns a new NUL-terminated text that the caller releases with free (an empty format
 * gives an empty text), or NULL, with nothing left allocated, when: `format` is NULL; it
 * holds any other conversion (%d, %% ...) or ends right after a percent sign; an argument is
 * NULL; an argument of a quoting conversion holds a byte that starts no valid UTF-8
 * character or ends inside a character; memory runs out. Writes no messages.
 *
 * The result starts at 128 bytes and grows with 128 bytes to spare, so that a short filter
 * is built with a single allocation.
 */
OVUTIL_EXPORT char* wv_mbs_sprintf(const char* format, ...);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* OVUTIL_WVWCHAR_H */
