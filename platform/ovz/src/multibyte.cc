// UTF-8 classification (RFC 3629: shortest forms only, no surrogates, at most U+10FFFF).
#include <ovz/multibyte.h>

#include <cstring>

#include "utf8.h"

struct ZCodeSetHandle_6_0 {
    const char* name;
};

namespace {
const ZCodeSetHandle_6_0 kUTF8 = {"UTF-8"};
}

extern "C" const ZCodeSetHandle_6_0* zgetUTF8Handle_6_0(void) { return &kUTF8; }

extern "C" int zmblen_6_0(const ZCodeSetHandle_6_0*, const char* position, size_t remaining) {
    if (remaining == 0) return 0;
    if (position == nullptr) return -1;
    return ovz_utf8::sequenceLength(reinterpret_cast<const unsigned char*>(position), remaining);
}

extern "C" int zstrchr_6_0(const ZCodeSetHandle_6_0* handle, const char* list, int byte) {
    if (list == nullptr || byte <= 0 || byte >= 0x80) return 0;
    size_t remaining = std::strlen(list);
    const char* p = list;
    while (remaining > 0) {
        int n = zmblen_6_0(handle, p, remaining);
        if (n == 1 && static_cast<unsigned char>(*p) == byte) return 1;
        // An invalid byte or a truncated tail is stepped over one byte at a time; bytes of
        // a valid multibyte character are skipped whole.
        size_t step = n > 0 ? static_cast<size_t>(n) : 1;
        p += step;
        remaining -= step;
    }
    return 0;
}
