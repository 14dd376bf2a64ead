// Hostile bytes into util_decode, and every input through util_encode and back. The text is
// given an allocation of exactly its size, so that reading past its NUL is caught.

#include <ovutil/encode.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool marked(const std::string& s) { return s.compare(0, 3, "~^+") == 0; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // util_decode reports undecodable values on standard output.
    check(std::freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string value(reinterpret_cast<const char*>(data),
                            strnlen(reinterpret_cast<const char*>(data), size));
    char* text = static_cast<char*>(std::malloc(value.size() + 1));
    std::memcpy(text, value.c_str(), value.size() + 1);

    // Decoding: a copy of an unmarked value; at most one byte for each two after the marker.
    char* decoded = util_decode(text);
    check(decoded != nullptr);
    if (!marked(value))
        check(value == decoded);
    else
        check(std::strlen(decoded) <= value.size());

    // Encoding: a marked value or one holding byte 254 stays as it is; any other is encoded
    // to the marker and one group per byte, and comes back whole.
    char* encoded = util_encode(text);
    check(encoded != nullptr);
    if (marked(value) || value.find('\xFE') != std::string::npos) {
        check(value == encoded);
    } else {
        size_t length = 3;
        for (unsigned char b : value) length += static_cast<size_t>((b % 7) * (7 - b % 7) + 2);
        check(marked(encoded) && std::strlen(encoded) == length);
        char* back = util_decode(encoded);
        check(back != nullptr && value == back);
        std::free(back);
    }
    if (!marked(value)) {
        // Whatever encoding gave, decoding gives the value back.
        char* back = util_decode(encoded);
        check(back != nullptr && value == back);
        std::free(back);
    }
    std::free(encoded);
    std::free(decoded);
    std::free(text);
    return 0;
}
