// The hash of a text's bytes, shared by the string classes (ZAbstractString_6_0::hash) and
// the hash maps, which hash keys they make from bytes without making an object first. Both
// must give the same number for the same bytes. Private to the object library.
#ifndef OVZ_SRC_HASH_BYTES_H
#define OVZ_SRC_HASH_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ovz_internal {

// Eight bytes at a time (the last word overlapping the one before when the length is no
// multiple of eight), each mixed in with a multiply, then a final avalanche.
inline unsigned long hashBytes(const unsigned char* p, std::size_t n) {
    std::uint64_t h = 0x9E3779B97F4A7C15u ^ n;
    const auto take = [&h](std::uint64_t w) {
        h = (h ^ w) * 0xFF51AFD7ED558CCDu;
        h ^= h >> 29;
    };
    if (n >= 8) {
        std::uint64_t w;
        for (std::size_t at = 0; at + 8 <= n; at += 8) {
            std::memcpy(&w, p + at, 8);
            take(w);
        }
        if (n % 8) {
            std::memcpy(&w, p + n - 8, 8);
            take(w);
        }
    } else if (n) {
        std::uint64_t w = 0;
        for (std::size_t i = 0; i < n; ++i) w |= std::uint64_t{p[i]} << (8 * i);
        take(w);
    }
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53u;
    h ^= h >> 33;
    return static_cast<unsigned long>(h);
}

}  // namespace ovz_internal

#endif  // OVZ_SRC_HASH_BYTES_H
