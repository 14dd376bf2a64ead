// Private: the text helpers that the stanza document's parser and its edits share (blanks,
// trimming, where a header's name ends, the hash of names in its indexes, line endings).
#ifndef OVZ_SRC_STANZA_TEXT_H
#define OVZ_SRC_STANZA_TEXT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace ovz_stanza {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

inline std::string_view trim(const char* b, const char* e) {
    while (b < e && isBlank(*b)) ++b;
    while (e > b && isBlank(e[-1])) --e;
    return std::string_view(b, static_cast<size_t>(e - b));
}

inline uint64_t load64(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// A multiply-rotate hash over 8-byte words: names are short, so this stays cheaper than a
// byte-at-a-time hash while spreading well enough for linear probing.
inline uint32_t hashText(std::string_view s) {
    constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
    uint64_t h = s.size() * kMul;
    const char* p = s.data();
    size_t n = s.size();
    while (n >= 8) {
        h = (h ^ load64(p)) * kMul;
        h ^= h >> 29;
        p += 8;
        n -= 8;
    }
    if (n > 0) {
        uint64_t t = 0;
        std::memcpy(&t, p, n);
        h = (h ^ t) * kMul;
    }
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
}

// A line's ending by its eol index, and the UTF-8 byte-order mark kept apart from the lines.
inline constexpr std::string_view kEol[] = {"", "\n", "\r\n"};
inline constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The end of a header's name: the first ']' after `open` that only blanks, or blanks and a
// comment, follow. Null when there is none.
inline const char* headerClose(const char* open, const char* end) {
    for (const char* c = open + 1;
         (c = static_cast<const char*>(std::memchr(c, ']', static_cast<size_t>(end - c)))); ++c) {
        const char* r = c + 1;
        while (r < end && isBlank(*r)) ++r;
        if (r == end || *r == '#') return c;
    }
    return nullptr;
}

}  // namespace ovz_stanza

#endif  // OVZ_SRC_STANZA_TEXT_H
