/** @file
 * Program start-up and message texts by number.
 *
 * A program calls wvmsg_init with its name before anything else. Afterwards it fetches the
 * text of a message number with wv_i18n_msg (local code set) or wv_i18n_msg_utf8 (UTF-8):
 * the first request for a number asks the message catalogs, later ones find the text in a
 * per-process cache.
 *
 * Conventions of this family:
 *  1. Texts returned by wv_i18n_msg, wv_i18n_msg_utf8 and the "unknown number" texts belong to
 *     the library: never free or change them. They stay valid until the process ends, and the
 *     same number returns the same pointer every time.
 *  2. A number that no catalog knows yields the text "Unknown message number (0x%8.8lx)."
 *     filled in with the number (eight lower-case hex digits), cached like a real text.
 *  3. The look-ups may be called from any thread; a number already cached is found without
 *     taking a lock, so look-ups from many threads do not wait for each other. wvmsg_init is
 *     called from one thread before other threads use the library.
 *  4. No function of this family throws.
 *
 * This header compiles as C and as C++.
 */
#ifndef OVUTIL_WVMSG_H
#define OVUTIL_WVMSG_H

#include <ovutil/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/** The format of the text of an unknown number: "Unknown message number (0x%8.8lx)." */
extern OVUTIL_EXPORT const char i18nfailure[35];

/**
 * Starts the process: sets the locale from the environment, names the program to the
 * serviceability library, loads its default messages and runs the library's start-up
 * (ovutil_init). Returns 1 on success, 0 on failure, after writing the reason to the system
 * log and to standard error: "Cannot initialize DCE servicibility messages" while the
 * program name is not yet accepted, "Cannot initialize OV default messages" afterwards,
 * followed on standard error by "(status 0x%8x)". An exception inside (memory running out)
 * is such a failure too, with the status 0x10652065 for memory and 0x35E51001 for any other.
 * Once the program name has been accepted, later calls return 1 at once.
 */
OVUTIL_EXPORT int wvmsg_init(const char* program_name);

/** The text of `number` in the local code set; never null unless memory ran out. */
OVUTIL_EXPORT const char* wv_i18n_msg(unsigned int number);
/** The text of `number` in UTF-8; never null unless memory ran out. */
OVUTIL_EXPORT const char* wv_i18n_msg_utf8(unsigned int number);
/**
 * The text of `number` from the compiled-in default messages, not cached; it is static and
 * belongs to the message library. A number without a default message gives the cached
 * "unknown number" text of the local-code-set cache.
 */
OVUTIL_EXPORT const char* wv_i18n_msgC(unsigned int number);

#ifdef __cplusplus
}
#endif

#endif /* OVUTIL_WVMSG_H */
