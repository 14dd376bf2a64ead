// UTF-8 classification (RFC 3629: shortest forms only, no surrogates, at most U+10FFFF).
#include <ovz/multibyte.h>

#include <cstring>

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
    const unsigned char* p = reinterpret_cast<const unsigned char*>(position);
    unsigned char b0 = p[0];
    if (b0 < 0x80) return 1;
    int len;
    // The range allowed for the second byte carries the checks against overlong forms,
    // surrogates and values above U+10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return -1;
    }
    for (int i = 1; i < len; ++i) {
        if (static_cast<size_t>(i) >= remaining) return 0;
        unsigned char b = p[i];
        if (i == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return -1;
    }
    return len;
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
