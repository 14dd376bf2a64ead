/*
 * Capture sink: hands every serviceability record, as structured fields, to a callback.
 *
 * Meant for tests, of this library and of programs built on it: they assert on what was
 * logged (handle, number, attributes, file, format, inserts) instead of parsing log lines.
 * A record still goes to the route of its severity while a capture is installed; a test that
 * wants quiet output routes the severities to "DISCARD" (ov_svc_route).
 *
 * C++ code may prefer the RAII helper of ovsvc/capture.hpp.
 *
 * This header compiles as C and as C++.
 */
#ifndef OVSVC_CAPTURE_H
#define OVSVC_CAPTURE_H

#include "ovsvc/svc.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * One record. Every pointer, and what it points to, is valid only during the callback:
 * copy what you keep. Strings are never null.
 */
typedef struct ov_svc_record_s {
    dce_svc_handle_t handle;  /* as passed; may be null */
    const char* component;    /* the handle's component name, "" without one */
    const char* subcomp_name; /* the sub-component's name, "" outside the table */
    unsigned int subcomp;
    unsigned int severity;   /* OV_SVC_FATAL ... OV_SVC_NOTICE, or OV_SVC_DEBUG */
    unsigned int attributes; /* as passed; 0 for a debug record */
    int is_debug;            /* 1 for ov_svc__debug_withfile and _utf8_withfile */
    unsigned int level;      /* the level of a debug record, else 0 */
    unsigned int msgid;      /* the message number, 0 for a debug record */
    int utf8;                /* 1 when the inserts and text are UTF-8 */
    const char* file;        /* "" when null was passed */
    int line;
    const char* format;         /* "" when null was passed */
    const char* const* inserts; /* the inserts `format` named, each rendered as text */
    unsigned int insert_count;
    const char* text;      /* the message text filled with the inserts */
    const char* line_text; /* the whole record as written, without the newline */
} ov_svc_record_t;

/* Called once per record, in the logging thread, with the capture's mutex held: records
 * reach a callback one at a time. A callback must not log through serviceability nor
 * change the capture. */
typedef void (*ov_svc_capture_fn)(void* context, const ov_svc_record_t* record);

/*
 * Installs `fn` with `context` as the capture sink, replacing the one before; null removes
 * it. Once the call returns, the previous callback is no longer running and never runs again.
 */
OVSVC_EXPORT void ov_svc_set_capture(ov_svc_capture_fn fn, void* context);

/* The installed sink (null when none), so that a nested capture can put it back. */
OVSVC_EXPORT void ov_svc_get_capture(ov_svc_capture_fn* fn, void** context);

#ifdef __cplusplus
}
#endif

#endif /* OVSVC_CAPTURE_H */
