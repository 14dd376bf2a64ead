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
    char conversion = 's';     // the conversion of `format` that named it: s d i u x X o c p
    std::string str;           // Kind::String; "(null)" for a null pointer
    long long s = 0;           // Kind::Signed
    unsigned long long u = 0;  // Unsigned, Char, Pointer; for Signed, the same bits unsigned
                               // at the insert's own width (so %x of -1 as int is ffffffff)
    std::string natural() const;  // rendered as `conversion` alone would
};

// Most inserts one record takes; a format naming more stops there.
constexpr size_t kMaxInserts = 32;

// Pulls the inserts that `format` names from `args`. Only the conversions listed in svc.h
// (with their flags, widths and h/l/ll/z/j/t length modifiers, and `*` widths) are read; at
// the first anything else the pulling stops, since the type of its argument is unknown.
std::vector<Insert> PullInserts(const char* format, va_list args);

// Fills the conversions of `text` with `inserts`, without ever giving `text` to printf.
std::string FillText(std::string_view text, const std::vector<Insert>& inserts);

// Text of a number that has none anywhere: "message 0x%08x", then the inserts.
std::string FallbackText(unsigned msgid, const std::vector<Insert>& inserts);

// Handles: the name of sub-component `subcomp`, or "".
const char* SubcompName(dce_svc_handle_t handle, unsigned subcomp);

// Routing: writes one whole record (which ends in '\n') to the route of `severity`.
// Returns 0 when written or discarded, -1 when the write failed.
int WriteRecord(unsigned severity, const std::string& record);
void InitRoutesFromEnvironment();

}  // namespace ovsvc_internal

#endif
