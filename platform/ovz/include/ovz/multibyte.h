/*
 * Multibyte classification of UTF-8 text.
 *
 * The handle names the code set; the library has one, UTF-8. A null handle is taken as the
 * UTF-8 handle. These functions never throw and may be called from any thread.
 * This header compiles as C and as C++.
 */
#ifndef OVZ_MULTIBYTE_H
#define OVZ_MULTIBYTE_H

#include <stddef.h>

#include <ovz/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque code-set handle. */
typedef struct ZCodeSetHandle_6_0 ZCodeSetHandle_6_0;

/* The UTF-8 handle; static, never freed. */
OVZ_EXPORT const ZCodeSetHandle_6_0* zgetUTF8Handle_6_0(void);

/*
 * The length in bytes (1 to 4) of the valid UTF-8 character at `position`, looking at no
 * more than `remaining` bytes; -1 when the byte at `position` does not start a valid
 * character (a continuation byte, 0xC0, 0xC1, 0xF5 and above, a bad continuation, an
 * overlong form, a surrogate U+D800..U+DFFF or a value above U+10FFFF); 0 when the text
 * ends (`remaining` runs out) inside an otherwise valid character. `remaining` 0 returns 0
 * (nothing left: the text has ended). A null `position` returns -1.
 * A NUL byte is a one-byte character like any other.
 */
OVZ_EXPORT int zmblen_6_0(const ZCodeSetHandle_6_0* handle, const char* position, size_t remaining);

/*
 * Non-zero when the one-byte character `byte` (1 to 127) occurs in the NUL-terminated
 * `list` as a character of its own (not inside a multibyte character). A `byte` of 0,
 * outside 0 to 255, or of 128 and above (no one-byte UTF-8 character) is never found;
 * a null list holds nothing.
 */
OVZ_EXPORT int zstrchr_6_0(const ZCodeSetHandle_6_0* handle, const char* list, int byte);

#ifdef __cplusplus
}
#endif

#endif /* OVZ_MULTIBYTE_H */
