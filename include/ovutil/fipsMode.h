/** @file
 * The process-wide FIPS mode setting.
 *
 * Settled once for the life of the process: either a program calls setFIPSMode before anyone
 * asks, or the first getFIPSMode reads stanza "ssl", key "ssl-enable-fips" of the product
 * configuration file (wherever ov_get_path finds "/opt/Orvan/etc/ov.conf"). Only a value of
 * "yes", in any case, turns the mode on. Both functions may be called from any thread; they
 * never throw.
 *
 * This header compiles as C and as C++.
 */
#ifndef OVUTIL_FIPSMODE_H
#define OVUTIL_FIPSMODE_H

#include <ovutil/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/**
 * 1 when FIPS mode is on, else 0. The first call that finds the setting unsettled reads the
 * configuration (other callers wait for it); a file that cannot be read, or a key that is
 * absent or empty, is logged and gives 0.
 */
OVUTIL_EXPORT int getFIPSMode(void);

/** Settles the mode to `mode` unless it is settled already; the first value stored wins. */
OVUTIL_EXPORT void setFIPSMode(int mode);

#ifdef __cplusplus
}
#endif

#endif /* OVUTIL_FIPSMODE_H */
