/*
 * Message catalogs and national-language directories.
 *
 * A message number is 32 bits. Its high 20 bits select the catalog and its low 12 bits the
 * message in set 1 of that catalog. The catalogs of the product are
 *
 *     0x10652xxx  ovbas      basic services (out of memory, common directory status values)
 *     0x1354Axxx  ovwvcore   the utility library
 *     0x15E3Axxx  ovc        product configuration
 *     0x35E51xxx  ovz        exceptions of the object library
 *
 * and any other prefix P names the catalog "ov" followed by P in five lower-case hex digits
 * (0x7E57A001 -> "ov7e57a"), so another component can ship a catalog of its own.
 *
 * Catalogs are X/Open message catalogs opened with catopen(name, NL_CAT_LOCALE), that is
 * through NLSPATH with %N = the catalog name and %L = the LC_MESSAGES locale name. A process
 * whose locale was never set, or set from an environment without LANG/LC_*, has %L = "C".
 * The build puts the catalogs in <build>/nls/msg/<L>/<name>.cat for L in C, C.UTF-8, en_US and
 * en_US.UTF-8; a test points NLSPATH at "<build>/nls/msg/%L/%N.cat".
 *
 * Conventions:
 *  1. Texts are UTF-8 in the catalogs; ov_msg_get_msg converts them to the code set of the
 *     process locale (LC_CTYPE) with iconv.
 *  2. Every function may be called from any thread. A catalog is opened once per process and
 *     kept open. An open that fails is remembered with the NLSPATH and LC_MESSAGES locale it
 *     searched with, and tried again only once either has changed, so a program that sets
 *     NLSPATH or its locale after an early look-up still finds its catalogs, while look-ups
 *     in a catalog that does not exist do not search the file system each time.
 *  3. Returned texts belong to the library: never free or change them. They stay valid for the
 *     life of the process.
 *  4. `status` may be null when the caller does not want it.
 *
 * This header compiles as C and as C++.
 */
#ifndef OVMSG_MSG_H
#define OVMSG_MSG_H

#include <stddef.h>

#define OVMSG_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Status words of this interface. */
#define OV_MSG_S_OK 0u
/* No catalog and no default message knows the number. */
#define OV_MSG_S_NOT_FOUND 0x0E4D0001u
/* The catalog could not be opened or does not hold the number; the text returned is the
 * compiled-in default message. */
#define OV_MSG_S_DEFAULT 0x0E4D0002u
/* The text could not be converted to the local code set; the UTF-8 text is returned. */
#define OV_MSG_S_CONVERSION 0x0E4D0003u
/* Memory ran out; nothing is returned. */
#define OV_MSG_S_NO_MEMORY 0x0E4D0004u
/* The compiled-in table of default messages is damaged (not in ascending order). */
#define OV_MSG_S_BAD_TABLE 0x0E4D0005u

/* One compiled-in default message. */
typedef struct ov_msg_entry_s {
    unsigned int number;
    const char* text; /* UTF-8 */
} ov_msg_entry_t;

/*
 * The text of `number` in the local code set: the catalog's text, or else the default
 * message (status OV_MSG_S_DEFAULT). Null with OV_MSG_S_NOT_FOUND when neither knows it,
 * null with OV_MSG_S_NO_MEMORY when memory ran out (a later call tries again). The same number in the same code set returns the same pointer every time while its source
 * (catalog or default) stays the same; a catalog found later replaces the default text in
 * later answers, and the earlier pointer stays valid.
 */
OVMSG_EXPORT const char* ov_msg_get_msg(unsigned int number, unsigned int* status);

/* The same in UTF-8. The pointer differs from the one ov_msg_get_msg returns. */
OVMSG_EXPORT const char* ov_msg_get_msg_utf8(unsigned int number, unsigned int* status);

/* The compiled-in default message (UTF-8, static), or null with OV_MSG_S_NOT_FOUND. */
OVMSG_EXPORT const char* ov_msg_get_default_msg(unsigned int number, unsigned int* status);

/*
 * Makes the default messages ready and checks them; 0 when they can be used. Look-ups work
 * without it; serviceability start-up calls it to find a damaged build early.
 */
OVMSG_EXPORT void ov_msg_load_defaults(unsigned int* status);

/* The table of default messages, in ascending order of number. Static; never null. */
OVMSG_EXPORT const ov_msg_entry_t* ov_msg_default_table(size_t* count);

/*
 * Writes the catalog name of `number` (see above) into `name`, NUL-terminated.
 * Returns the length of the name, or the length it would have when `size` is too small.
 */
OVMSG_EXPORT size_t ov_msg_catalog_name(unsigned int number, char* name, size_t size);

/* National-language search path: the process's NLSPATH, or null when it is not set. */
OVMSG_EXPORT const char* ucx_get_nlspath(void);
/* Internationalisation services directory: the process's UCXDIR, or null when not set. */
OVMSG_EXPORT const char* ucx_get_dir(void);

#ifdef __cplusplus
}
#endif

#endif /* OVMSG_MSG_H */
