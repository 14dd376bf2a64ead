/*
 * Serviceability: numbered log messages and gated debug output.
 *
 * A handle names one component and carries a table of its sub-components with their
 * debug levels. Messages are 32-bit numbers; their texts come from the message catalogs
 * (ovmsg/msg.h) and are filled with the inserts that the call's `format` names.
 *
 * Conventions of this interface:
 *  1. Severities are attribute words: 16 fatal, 32 error, 48 warning, 64 notice.
 *  2. Status words are 32-bit; 0 is success.
 *  3. Every function may be called from any thread; records are written whole.
 *  4. Routing (where each severity goes) and debug levels are set by a call or by the
 *     environment of the process (see ov_svc_route and ov_svc_set_debug_level).
 *  5. A record is one line (a text with line breaks continues on lines that start with a
 *     tab), written with one write() under a process-wide mutex:
 *        2026-03-01 12:00:00.042+0100 wvacld[4242] ERROR wvcore.locks 0x1354a1c8 src/util/wvlock:120 text
 *     Debug records carry DEBUG<level> as severity and 0x00000000 as number.
 *  6. Tests watch records through the capture sink of ovsvc/capture.h.
 *
 * This header compiles as C and as C++.
 */
#ifndef OVSVC_SVC_H
#define OVSVC_SVC_H

#include <stdarg.h>

#define OVSVC_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Attribute words (severities) of ov_svc_printf_withfile and friends. */
#define OV_SVC_FATAL 16u
#define OV_SVC_ERROR 32u
#define OV_SVC_WARNING 48u
#define OV_SVC_NOTICE 64u
/* Pseudo-severity of debug records, for routing and capture. */
#define OV_SVC_DEBUG 0u

/* One sub-component of a handle: its name and its current debug level. */
typedef struct ov_svc_subcomp_s {
    const char* sc_name;   /* the name, e.g. "locks" */
    const char* sc_descr;  /* a description for people */
    unsigned int sc_level; /* the debug level; read it with ov_svc_debug_level */
} ov_svc_subcomp_t;

/*
 * A serviceability handle. `setup` is non-zero once the levels in `table` have been
 * filled in from the environment; until then ov_svc__debug_fillin2 fills them.
 * Read the level through ov_svc_debug_level(), which orders the reads correctly.
 */
typedef struct dce_svc_handle_s_t {
    const char* component;   /* the component's name, e.g. "wvcore" */
    ov_svc_subcomp_t* table; /* the sub-components, indexed by number */
    unsigned int table_size; /* the number of entries of `table` */
    int setup;               /* non-zero once the levels are filled in */
} dce_svc_handle_s_t;
/* What the functions take: a pointer to a handle. */
typedef dce_svc_handle_s_t* dce_svc_handle_t;

/* The product's handles. They live for the life of the process. */
extern OVSVC_EXPORT dce_svc_handle_t bas_svc_handle;
extern OVSVC_EXPORT dce_svc_handle_t wvcore_svc_handle;
extern OVSVC_EXPORT dce_svc_handle_t ov_ras_svc_handle;
extern OVSVC_EXPORT dce_svc_handle_t ovc_svc_handle;
extern OVSVC_EXPORT dce_svc_handle_t ovz_svc_handle;

/* Code-set designator: the inserts of a *_cs_* call are UTF-8 text. */
extern OVSVC_EXPORT const char* const ov_svc_utf8_cs;

/* Status words of ov_svc_set_progname and ov_svc_init. */
#define OV_SVC_S_OK 0u
#define OV_SVC_S_BAD_PARAM 0x0E4C0001u
/* Memory ran out; what the call was to do is not (or not all) done. */
#define OV_SVC_S_NO_MEMORY 0x0E4C0002u

/*
 * Names the process in every record (the name is copied). Until it is called, records carry
 * the name the process was started with. Refuses a null or empty name (OV_SVC_S_BAD_PARAM);
 * OV_SVC_S_NO_MEMORY when the copy cannot be made (the name stays as it was).
 */
OVSVC_EXPORT void ov_svc_set_progname(const char* name, unsigned int* status);
/*
 * Loads the default messages of the message catalogs and reads the routes from the
 * environment; `flags` must be 0 (else OV_SVC_S_BAD_PARAM). OV_SVC_S_NO_MEMORY when the
 * routes could not be read for want of memory (they are read again with the next record).
 * Any other non-zero status is the message library's (ovmsg/msg.h).
 */
OVSVC_EXPORT void ov_svc_init(int flags, unsigned int* status);

/*
 * Writes one numbered message. `format` names the inserts that follow, in order, with the
 * conversions %s (const char*), %d (int), %u, %x (unsigned int), %ld, %lu, %lx (long) and
 * %c; nothing else in it is read. The message text is the catalog's text for `msgid`,
 * whose conversions are filled with the inserts in order (or as numbered by %1$s, %2$d...).
 * The text is never used as a printf format: a conversion without an insert, or one that
 * names no value (such as %n), is written as it stands; a null %s insert reads "(null)".
 * A number without any text is written as "message 0x<number>" followed by the inserts.
 * The text is the local code set's; with the UTF-8 designator (ov_svc_printf_cs_withfile)
 * it is the UTF-8 text. A record goes to the capture sink, if any, and to the route of its
 * severity (attributes 16, 32, 48, 64; other values are routed as errors, so that they are
 * not lost). Returns 0 when the record was written (or routed nowhere on purpose), -1 when
 * writing failed.
 * When memory runs out while the record is built, it is written all the same, without its
 * inserts: the text is the compiled-in default message of `msgid` when that takes no
 * inserts, else "message 0x<number>". Debug lines that cannot be built are dropped. No
 * function of this interface throws.
 */
OVSVC_EXPORT int ov_svc_printf_withfile(dce_svc_handle_t handle, const char* file, int line,
                                        const char* format, unsigned int subcomp,
                                        unsigned int attributes, unsigned int msgid, ...);
/* ov_svc_printf_withfile with the inserts in a va_list. */
OVSVC_EXPORT int ov_svc_vprintf_withfile(dce_svc_handle_t handle, const char* file, int line,
                                         const char* format, unsigned int subcomp,
                                         unsigned int attributes, unsigned int msgid, va_list args);
/* The same with a code-set designator for the inserts (ov_svc_utf8_cs). */
OVSVC_EXPORT int ov_svc_printf_cs_withfile(dce_svc_handle_t handle, const char* codeset,
                                           const char* file, int line, const char* format,
                                           unsigned int subcomp, unsigned int attributes,
                                           unsigned int msgid, ...);

/*
 * Fills the handle's table from the environment (once per handle) and returns the debug
 * level of `subcomp` (0 for a sub-component the handle does not have).
 */
OVSVC_EXPORT unsigned int ov_svc__debug_fillin2(dce_svc_handle_t handle, unsigned int subcomp);

/*
 * Writes one debug line: `format` is a printf format (the program's own, never data) and the
 * inserts follow it. The line is written only when the debug level of `subcomp` is at least
 * `level`; callers test ov_svc_debug_level first to skip building their inserts.
 */
OVSVC_EXPORT void ov_svc__debug_withfile(dce_svc_handle_t handle, const char* file, int line,
                                         unsigned int subcomp, unsigned int level,
                                         const char* format, ...)
    __attribute__((format(printf, 6, 7)));
/* ov_svc__debug_withfile for a format and inserts in UTF-8. */
OVSVC_EXPORT void ov_svc__debug_utf8_withfile(dce_svc_handle_t handle, const char* file, int line,
                                              unsigned int subcomp, unsigned int level,
                                              const char* format, ...)
    __attribute__((format(printf, 6, 7)));

/*
 * The debug level of `subcomp`: the table's entry once the handle is filled in, else the
 * result of ov_svc__debug_fillin2. A debug line is due when the level is above 8 for the
 * library's exception traces, or at least the caller's level elsewhere.
 */
static inline unsigned int ov_svc_debug_level(dce_svc_handle_t handle, unsigned int subcomp) {
    if (__atomic_load_n(&handle->setup, __ATOMIC_ACQUIRE) && subcomp < handle->table_size)
        return __atomic_load_n(&handle->table[subcomp].sc_level, __ATOMIC_RELAXED);
    return ov_svc__debug_fillin2(handle, subcomp);
}

/*
 * Sets the debug level of one sub-component (fills the handle in first). A sub-component
 * the handle does not have is ignored.
 *
 * The environment variable OV_SVC_DEBUG sets levels when a handle is filled in (on its first
 * use): a comma-separated list of <component>:<sub-component>=<level>, where the component
 * is a handle's component name or "*", and the sub-component is its index, its name or "*".
 * Names are "*" or made of A-Z a-z 0-9 _ . -, levels 1 to 9 decimal digits. Later entries win.
 * Example: OV_SVC_DEBUG="ras:3=9,wvcore:*=2,ovz:locks=4". An entry that is not understood, or
 * that names a sub-component the product's handle of that component does not have, sets
 * nothing and is reported once per process by a warning on standard error (message
 * 0x10652073); entries for other components may belong to a caller's own handle.
 * The product's handles and their sub-components:
 *   bas    (bas_svc_handle)     0 general, 1 memory, 2 paths, 3 config, 4 nls
 *   wvcore (wvcore_svc_handle)  0 general, 1 config, 2 locks, 3 objects, 4 text
 *   ras    (ov_ras_svc_handle)  0 general, 1 trace, 2 dump, 3 exceptions, 4 perf
 *   ovc    (ovc_svc_handle)     0 general, 1 config, 2 fips, 3 ssl
 *   ovz    (ovz_svc_handle)     0 general, 1 strings, 2 collections, 3 properties, 4 locks
 */
OVSVC_EXPORT void ov_svc_set_debug_level(dce_svc_handle_t handle, unsigned int subcomp,
                                         unsigned int level);

/*
 * Routes one severity (OV_SVC_FATAL ... OV_SVC_NOTICE, or OV_SVC_DEBUG) to a destination
 * (keywords in any case):
 *   "STDERR", "STDOUT"  the stream. When JOURNAL_STREAM names the stream's device and inode
 *                       (the service manager connected it to the journal), each line starts
 *                       with the priority as "<N>" (2 fatal, 3 error, 4 warning, 5 notice,
 *                       7 debug) and carries no time stamp of its own.
 *   "SYSLOG"            syslog(3) with that priority (LOG_CRIT, LOG_ERR, LOG_WARNING,
 *                       LOG_NOTICE, LOG_DEBUG) and the program's openlog settings; the record
 *                       without its time stamp.
 *   "DISCARD"           nowhere.
 *   "FILE:<path>"       appended to, created 0640. Only a regular file or a character device
 *                       (such as /dev/null) is used; the open never blocks, so a FIFO is
 *                       refused, as are sockets, directories and block devices.
 * Returns 0, or -1 for an unknown severity or destination or a file that cannot be used
 * (nothing changes then).
 * The environment sets the same at first use: OV_SVC_ROUTE_FATAL, OV_SVC_ROUTE_ERROR,
 * OV_SVC_ROUTE_WARNING, OV_SVC_ROUTE_NOTICE, OV_SVC_ROUTE_DEBUG (an empty value counts as
 * unset). A value that is not understood keeps the default route, a file that cannot be used
 * sends that severity to standard error; either gives one warning on standard error (messages
 * 0x10652071, 0x10652072). Defaults: fatal, error and warning to standard error; notice and
 * debug nowhere.
 */
OVSVC_EXPORT int ov_svc_route(unsigned int severity, const char* destination);

#ifdef __cplusplus
}
#endif

#endif /* OVSVC_SVC_H */
