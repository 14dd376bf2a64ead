// Private machinery of the serviceability stand-in.
#ifndef OVSVC_SRC_INTERNAL_H
#define OVSVC_SRC_INTERNAL_H

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#include "ovsvc/svc.h"

namespace ovsvc_internal {

// One insert pulled from a call's argument list, typed by the conversion that named it.
struct Insert {
    enum class Kind { String, Signed, Unsigned, Char, Pointer };
    Kind kind = Kind::String;
    char conversion = 's';        // the conversion of `format` that named it: s d i u x X o c p
    std::string str;              // Kind::String; "(null)" for a null pointer
    long long s = 0;              // Kind::Signed
    unsigned long long u = 0;     // Unsigned, Char, Pointer; for Signed, the same bits unsigned
                                  // at the insert's own width (so %x of -1 as int is ffffffff)
    std::string natural() const;  // rendered as `conversion` alone would
};

// Most inserts one record takes; a format naming more stops there.
constexpr size_t kMaxInserts = 32;

// Pulls the inserts that `format` names from `args`. Only the conversions listed in svc.h
// (with their flags, widths and h/l/ll/z/j/t length modifiers, and `*` widths) are read; at
// the first anything else the pulling stops, since the type of its argument is unknown.
std::vector<Insert> pullInserts(const char* format, va_list args);

// Fills the conversions of `text` with `inserts`, without ever giving `text` to printf.
std::string fillText(std::string_view text, const std::vector<Insert>& inserts);

// Text of a number that has none anywhere: "message 0x%08x", then the inserts.
std::string fallbackText(unsigned msgid, const std::vector<Insert>& inserts);

// Handles: the name of sub-component `subcomp`, or "".
const char* subcompName(dce_svc_handle_t handle, unsigned subcomp);

// Routing: writes one record to the route of `severity`. `stamp` is its time stamp and `body`
// the rest of its line (program, severity, ... text; continuation lines start with a tab),
// without a final line break: a file gets "stamp body\n", the system log gets `body`, and a
// standard stream that is the journal's (JOURNAL_STREAM) gets "<priority>body\n".
// Returns 0 when written or discarded, -1 when the write failed.
int writeRecord(unsigned severity, const std::string& stamp, const std::string& body);
// The same on standard error, whatever the routes say.
int writeToStderr(unsigned severity, const std::string& stamp, const std::string& body);
// writeRecord for a record built while memory has run out: `body` is one line, and nothing
// here allocates. When the routes themselves cannot be made, fatal, error and warning records
// go to standard error (their default route).
int writeShortRecord(unsigned severity, const char* stamp, const char* body) noexcept;
// Reads OV_SVC_ROUTE_* once per process.
void initRoutesFromEnvironment();
// Warns once per process about the entries of OV_SVC_DEBUG that set nothing.
void checkDebugEnvironment();

// Warnings about the settings in the environment, on bas_svc_handle.
// "%s%s": variable, value.
constexpr unsigned kMsgUnknownRoute = 0x10652071u;
// "%s%s%s": variable, value, reason.
constexpr unsigned kMsgRouteUnusable = 0x10652072u;
// "%s": the entry of OV_SVC_DEBUG.
constexpr unsigned kMsgUnknownDebug = 0x10652073u;

// Writes one warning record (message `msgid` with the "%s" inserts that follow, as many as
// its text takes, at most three) to the capture sink and straight to standard error, never
// through a route: the routes may be what the warning is about.
void warnOnStderr(const char* file, int line, unsigned msgid, const char* s1,
                  const char* s2 = nullptr, const char* s3 = nullptr);

}  // namespace ovsvc_internal

#endif
