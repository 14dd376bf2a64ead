// Arbitrary text into the decoder: it must stay inside its buffer, give at most 3 bytes for
// every 4 characters, and what it gives must survive an encode/decode round trip.

#include <ovutil/mime64.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT_MAX) return 0;
    char* bytes = nullptr;
    unsigned int n = 0;
    mime64_new_decode(reinterpret_cast<const char*>(data), static_cast<int>(size), &bytes, &n);
    if (size == 0) {
        if (bytes != nullptr || n != 0) std::abort();
        return 0;
    }
    if (!bytes || n > size / 4 * 3 + 2) std::abort();

    char* text = mime64_new_encode(reinterpret_cast<unsigned char*>(bytes), n);
    if (!text || std::strlen(text) != (n + 2) / 3 * 4) std::abort();
    char* again = nullptr;
    unsigned int again_n = 0;
    mime64_new_decode(text, static_cast<int>(std::strlen(text)), &again, &again_n);
    if (again_n != n || (n && std::memcmp(again, bytes, n) != 0)) std::abort();
    std::free(again);
    std::free(text);
    std::free(bytes);
    return 0;
}
