// What several units of src/ write the same way: the debug lines of catch and throw sites, the
// out-of-memory message, and the path of the product configuration file.
#ifndef OVUTIL_INTERNAL_LOGGING_H
#define OVUTIL_INTERNAL_LOGGING_H

#include <ovmsg/messages.h>
#include <ovsvc/svc.h>

namespace ovutil_internal {

// The product configuration file, by its default install path (ov_get_path may move it).
inline constexpr char kProductConfigFile[] = "/opt/Orvan/etc/ov.conf";

// The debug line of a catch site, "<exceptionClass> Exception caught. ", on sub-component 3
// (exceptions) of ov_ras_svc_handle at level 9, written only when that sub-component's level
// is above 8. `source` and `line` are the unit's record name and the line of the catch.
inline void traceCaught(const char* source, int line, const char* exceptionClass) {
    if (ov_svc_debug_level(ov_ras_svc_handle, 3) > 8)
        ov_svc__debug_withfile(ov_ras_svc_handle, source, line, 3, 9, "%s Exception caught. \n",
                               exceptionClass);
}

// The debug line of a throw site, "<exceptionClass> Exception thrown. ", written the same way
// as traceCaught. `exceptionClass` is the class name without its version suffix, as
// ZException_6_0::name() gives it ("ZInvalidParameterException").
inline void traceThrown(const char* source, int line, const char* exceptionClass) {
    if (ov_svc_debug_level(ov_ras_svc_handle, 3) > 8)
        ov_svc__debug_withfile(ov_ras_svc_handle, source, line, 3, 9, "%s Exception thrown. \n",
                               exceptionClass);
}

// The out-of-memory message: OV_MSG_OUT_OF_MEMORY on bas_svc_handle, sub-component 0, fatal,
// no inserts. Start-up writes it in the local code set (logOutOfMemory), the units that log
// UTF-8 text with the UTF-8 designator (logOutOfMemoryUTF8). Neither stops the process: the
// caller decides whether it can go on.
inline void logOutOfMemory(const char* source, int line) {
    ov_svc_printf_withfile(bas_svc_handle, source, line, "", 0, OV_SVC_FATAL, OV_MSG_OUT_OF_MEMORY);
}
inline void logOutOfMemoryUTF8(const char* source, int line) {
    ov_svc_printf_cs_withfile(bas_svc_handle, ov_svc_utf8_cs, source, line, "", 0, OV_SVC_FATAL,
                              OV_MSG_OUT_OF_MEMORY);
}

}  // namespace ovutil_internal

#endif  // OVUTIL_INTERNAL_LOGGING_H
