// The hash of a text's bytes, shared by the string classes (ZAbstractString_6_0::hash), the
// hash maps, which hash keys they make from bytes without making an object first, and the
// stanza document's indexes. The string classes and the maps must give the same number for
// the same bytes. Private to the object library.
//
// Every table of these hashes may be filled by outside data (names a peer sends, keys of a
// file), so the hash is keyed with a secret drawn at random once per process: whoever
// chooses the texts cannot know which of them collide, and no table turns into a linear
// scan. The numbers therefore differ from one process to the next (a child made by fork
// keeps its parent's, which its inherited tables need); nothing may store them or send them
// elsewhere.
#ifndef OVZ_SRC_HASH_BYTES_H
#define OVZ_SRC_HASH_BYTES_H

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ovz_internal {

// The per-process secret of the hash: four random words.
struct HashSecret {
    std::uint64_t k[4];
};

// The folded 128-bit product of two words: the mixing step of the hash.
inline std::uint64_t foldedProduct(std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

// The secret from the system's random source. Without one (a kernel or sandbox that refuses
// getrandom, or a pool not ready yet early at boot, which is not waited for) the clocks, the
// process id and addresses that address-space randomisation moves still make it differ
// between processes, though less unpredictably. The caller's errno is kept.
inline HashSecret makeHashSecret() noexcept {
    const int savedErrno = errno;
    HashSecret s{};
    unsigned char* at = reinterpret_cast<unsigned char*>(s.k);
    std::size_t left = sizeof s.k;
    while (left > 0) {
        const ssize_t got = ::getrandom(at, left, GRND_NONBLOCK);
        if (got > 0) {
            at += got;
            left -= static_cast<std::size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            break;
        }
    }
    if (left > 0) {
        timespec real{};
        timespec mono{};
        ::clock_gettime(CLOCK_REALTIME, &real);
        ::clock_gettime(CLOCK_MONOTONIC, &mono);
        const std::uint64_t inputs[4] = {
            static_cast<std::uint64_t>(real.tv_sec) * 1000000000u +
                static_cast<std::uint64_t>(real.tv_nsec),
            static_cast<std::uint64_t>(mono.tv_sec) * 1000000000u +
                static_cast<std::uint64_t>(mono.tv_nsec),
            static_cast<std::uint64_t>(::getpid()),
            reinterpret_cast<std::uintptr_t>(&s) ^ reinterpret_cast<std::uintptr_t>(&errno)};
        std::uint64_t h = 0x243F6A8885A308D3u;
        for (std::uint64_t& word : s.k) {
            for (const std::uint64_t in : inputs) h = foldedProduct(h ^ in, 0x9E3779B97F4A7C15u);
            word ^= h;
        }
    }
    errno = savedErrno;
    return s;
}

// The process's secret, made on first use (thread-safe: a function-local static).
inline const HashSecret& hashSecret() noexcept {
    static const HashSecret secret = makeHashSecret();
    return secret;
}

inline std::uint64_t load64(const unsigned char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}
inline std::uint64_t load32(const unsigned char* p) {
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

// Sixteen bytes at a time, each pair of words combined with the state and the secret in one
// folded 128-bit product; the last (or only) up to 16 bytes are read as two words that may
// overlap, and the length is part of the state, so that every text of a given length is one
// distinct pair of words. A final product of both halves of the last one spreads every bit.
// With the secret unknown, the product's operands are unknown, so colliding texts cannot be
// worked out from the function as they can for an unkeyed multiply-xor hash.
inline unsigned long hashBytes(const unsigned char* p, std::size_t n) {
    const HashSecret& s = hashSecret();
    std::uint64_t state = s.k[0] ^ n;
    std::uint64_t a;
    std::uint64_t b;
    if (n <= 16) {
        if (n >= 8) {
            a = load64(p);
            b = load64(p + n - 8);
        } else if (n >= 4) {
            a = load32(p);
            b = load32(p + n - 4);
        } else if (n > 0) {
            a = (std::uint64_t{p[0]} << 16) | (std::uint64_t{p[n >> 1]} << 8) | p[n - 1];
            b = 0;
        } else {
            a = b = 0;
        }
    } else {
        std::size_t left = n;
        do {
            state = foldedProduct(load64(p) ^ s.k[1], load64(p + 8) ^ state);
            p += 16;
            left -= 16;
        } while (left > 16);
        a = load64(p + left - 16);
        b = load64(p + left - 8);
    }
    const unsigned __int128 r = static_cast<unsigned __int128>(a ^ s.k[1]) * (b ^ state);
    return static_cast<unsigned long>(foldedProduct(static_cast<std::uint64_t>(r) ^ s.k[2] ^ n,
                                                    static_cast<std::uint64_t>(r >> 64) ^ s.k[3]));
}

// The hash of std::string and std::string_view keys for the standard library's unordered
// containers.
struct TextHash {
    template <class Text>
    std::size_t operator()(const Text& text) const {
        return hashBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
};

}  // namespace ovz_internal

#endif  // OVZ_SRC_HASH_BYTES_H
