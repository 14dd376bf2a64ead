// The plain base64 coders: the definition, character by character. They stay beside the fast
// coders as the reference that tests and fuzz targets hold them to; the library itself does
// not contain them.
#include <ovutil/mime64.h>

#include <cstddef>
#include <cstdlib>

#include "internal/mime64_new.h"

namespace ovutil_internal::mime64 {

char* encodePlain(const unsigned char* data, unsigned int length) {
    char* out = static_cast<char*>(std::malloc(encodedSize(length)));
    if (!out) return nullptr;
    char* o = out;
    for (unsigned int i = 0; i < length; i += 3) {
        const unsigned int left = length - i;
        const unsigned char b0 = data[i];
        const unsigned char b1 = left > 1 ? data[i + 1] : 0;
        const unsigned char b2 = left > 2 ? data[i + 2] : 0;
        *o++ = new_alphabet[b0 >> 2];
        *o++ = new_alphabet[(b0 & new_bitmasks[1]) << 4 | b1 >> 4];
        *o++ = left > 1 ? new_alphabet[(b1 & new_bitmasks[3]) << 2 | b2 >> 6] : '=';
        *o++ = left > 2 ? new_alphabet[b2 & new_bitmasks[5]] : '=';
    }
    *o = '\0';
    return out;
}

void decodePlain(const char* text, int length, char** result, unsigned int* result_length) {
    if (!startDecode(text, length, result, result_length)) return;
    unsigned char* out = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(length)));
    if (!out) return;
    unsigned int n = 0;
    int i = 0;
    for (;;) {
        unsigned int s[4] = {0, 0, 0, 0};
        int k = 0;
        while (k < 4 && i < length) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c == '=') break;
            ++i;
            if ((c & 0x80) || new_reverse_alphabet[c] == kInvalid) continue;
            s[k++] = new_reverse_alphabet[c];
        }
        if (k >= 1) out[n++] = static_cast<unsigned char>(s[0] << 2 | s[1] >> 4);
        if (k >= 2)
            out[n++] = static_cast<unsigned char>((s[1] & new_bitmasks[3]) << 4 | s[2] >> 2);
        if (k >= 3) out[n++] = static_cast<unsigned char>((s[2] & new_bitmasks[1]) << 6 | s[3]);
        if (k < 4) {
            // A short last group writes one byte more than it carries.
            if (k >= 1 && n) --n;
            break;
        }
        if (i >= length) break;
    }
    *result = reinterpret_cast<char*>(out);
    *result_length = n;
}

}  // namespace ovutil_internal::mime64
