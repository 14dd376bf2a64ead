// The value encoder. Each input byte b becomes a group: the data byte (b + r) mod 256, with
// r = b mod 7, and r * (7 - r) + 1 copies of the filler character for r. The groups of all
// 256 byte values are laid out once, so that encoding copies one whole group per byte.

#include <ovutil/encode.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kTable[] = "~^+=?|;";
constexpr std::size_t kMarkerLength = 3;  // the marker is the table's first three characters

// The byte whose data byte would be 0 and so end the encoded text: 254 + (254 mod 7) = 256.
constexpr unsigned char kUnencodable = 254;

constexpr int fillerCount(int r) { return r * (7 - r) + 1; }

// One encoded group: its bytes, padded to 16, and how many of them count.
struct Group {
    char bytes[16];
    unsigned char length;
};

constexpr auto kGroups = [] {
    std::array<Group, 256> groups{};
    for (int b = 0; b < 256; ++b) {
        const int r = b % 7;
        Group& g = groups[static_cast<std::size_t>(b)];
        g.bytes[0] = static_cast<char>(static_cast<unsigned char>((b + r) & 0xFF));
        for (int i = 1; i <= fillerCount(r); ++i) g.bytes[i] = kTable[r];
        g.length = static_cast<unsigned char>(fillerCount(r) + 1);
    }
    return groups;
}();

// The remainder that a filler character stands for, -1 for any other byte (NUL included).
constexpr auto kRemainder = [] {
    std::array<signed char, 256> r{};
    for (auto& v : r) v = -1;
    for (int i = 0; i < 7; ++i)
        r[static_cast<unsigned char>(kTable[i])] = static_cast<signed char>(i);
    return r;
}();

bool hasMarker(const char* value, std::size_t n) {
    return n >= kMarkerLength && std::memcmp(value, kTable, kMarkerLength) == 0;
}

}  // namespace

extern "C" {

const char* symb = kTable;

char* util_encode(const char* value) {
    if (value == nullptr) return nullptr;
    const std::size_t n = std::strlen(value);
    if (hasMarker(value, n)) return strdup(value);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(value);
    std::size_t size = kMarkerLength + 1;
    for (std::size_t i = 0; i < n; ++i) {
        if (in[i] == kUnencodable) return strdup(value);
        size += kGroups[in[i]].length;
    }
    char* const out = static_cast<char*>(std::malloc(size));
    if (out == nullptr) return strdup(value);
    std::memcpy(out, kTable, kMarkerLength);
    char* o = out + kMarkerLength;
    char* const last = out + size - 1;  // where the NUL goes
    std::size_t i = 0;
    // Whole 16-byte copies while they fit; the bytes beyond a group are overwritten by the
    // next one.
    for (; i < n && last - o >= 16; ++i) {
        const Group& g = kGroups[in[i]];
        std::memcpy(o, g.bytes, sizeof g.bytes);
        o += g.length;
    }
    for (; i < n; ++i) {
        const Group& g = kGroups[in[i]];
        std::memcpy(o, g.bytes, g.length);
        o += g.length;
    }
    *o = '\0';
    return out;
}

char* util_decode(const char* value) {
    if (value == nullptr) return nullptr;
    const std::size_t n = std::strlen(value);
    if (!hasMarker(value, n)) return strdup(value);
    char* const out = static_cast<char*>(std::malloc(n + 1));
    if (out == nullptr) return strdup(value);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(value);
    char* o = out;
    for (std::size_t i = kMarkerLength; i < n;) {
        // in[i + 1] is at most the terminating NUL, which is no filler character.
        const int r = kRemainder[in[i + 1]];
        if (r < 0) {
            std::printf("can't decode:%s\n", value);
            std::free(out);
            return strdup(value);
        }
        *o++ = static_cast<char>(static_cast<unsigned char>(in[i] - r));
        i += static_cast<std::size_t>(fillerCount(r)) + 1;
    }
    *o = '\0';
    return out;
}

}  // extern "C"
