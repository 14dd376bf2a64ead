/** @file
 * Process start-up and the install path table.
 *
 * The product's programs name installed files by their default paths ("/opt/Orvan/etc/ov.conf",
 * "/var/Orvan/log/msg__ovmgrd.log") and ask ov_get_path where such a file really is on this
 * installation. Start-up fills the table once per process: it installs the product's message
 * service, sets NLSPATH and UCXDIR so that the product's catalogs are found (the product's
 * directory first, then the catalogs installed with this library, in share/ovutil/nls/msg
 * beside the library's own directory, then the search path the process had), and moves the log
 * files into the common directory when "/opt/Orvan/etc/ov.conf" names one (stanza "ovrte", key
 * "selvan_common_dir").
 *
 * Conventions of this family:
 *  1. Texts returned by ov_get_path belong to the library (or are the caller's own key); never
 *     free or change them.
 *  2. ovutil_init and ov_get_path may be called from any number of threads at once; start-up
 *     runs exactly once and no caller sees a half-built table.
 *  3. The table takes no lock: ov_selvan_common_directory_init and PathMap::addOvPath change it,
 *     so a program calls them before other threads look those keys up.
 *  4. No function of this family throws.
 *
 * This header compiles as C and as C++.
 */
#ifndef OVUTIL_GETPATH_H
#define OVUTIL_GETPATH_H

#include <ovutil/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/** Status values of ov_selvan_common_directory_init. */
#define OV_SCD_S_OK 0u
/** The product's root ("/opt/Orvan/etc/ov.conf") is not known. */
#define OV_SCD_S_NO_PRODUCT_ROOT 0x1065206Eu
/** The product family's root (log.properties) is not known. */
#define OV_SCD_S_NO_FAMILY_ROOT 0x1065206Fu
/** Both roots are known but differ; the sub-directories hang under the product's root. */
#define OV_SCD_S_ROOTS_DIFFER 0x10652070u

/**
 * Runs the library's start-up if it has not run in this process. wvmsg_init calls it; a
 * program that does not use wvmsg_init calls it before anything else. A second call does
 * nothing.
 */
OVUTIL_EXPORT void ovutil_init(void);

/**
 * Where the installed file `key` really is. Runs start-up first if it has not run.
 * A path that the table does not relocate stands for itself: the very pointer `key` is
 * returned. A symbolic key (one that begins with "#") that has no value gives null, and so
 * does a null key. A text from the table stays valid until its entry is replaced.
 */
OVUTIL_EXPORT const char* ov_get_path(const char* key);

/**
 * Makes ov_get_path(key) the working directory of the process. Returns 0 on success, ENOENT
 * when the key has no path (the working directory is left as it was), otherwise the errno
 * that chdir left.
 */
OVUTIL_EXPORT int ov_change_directory(const char* key);

/**
 * Registers the common sub-directories of `component` in the path table:
 * @code{.unparsed}
 *   "#ov_undefined_ov_scd_base"    R/component
 *   "#ov_undefined_ov_scd_logs"    R/component/logs
 *   "#ov_undefined_ov_scd_ffdc"    R/component/ffdc
 *   "#ov_undefined_ov_scd_scripts" R/component/scripts
 * @endcode
 * where R is the product's common directory root. Returns OV_SCD_S_OK when the product's root
 * and the family's root are both known and equal, OV_SCD_S_ROOTS_DIFFER when they differ
 * (the keys are registered all the same), and OV_SCD_S_NO_FAMILY_ROOT or
 * OV_SCD_S_NO_PRODUCT_ROOT (checked in that order) when a root is not known; nothing is
 * registered then. A null component counts as "". Directories are neither created nor
 * checked. Each call replaces the four entries.
 */
OVUTIL_EXPORT unsigned int ov_selvan_common_directory_init(const char* component);

#ifdef __cplusplus
}
#endif

#endif /* OVUTIL_GETPATH_H */
