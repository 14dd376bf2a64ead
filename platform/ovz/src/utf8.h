// UTF-8 of the object library: the one encoder, decoder and validator, for the string
// classes, the multibyte functions and the build's message generator.
//
// Valid UTF-8 follows RFC 3629: shortest forms only, no surrogates (U+D800..U+DFFF), nothing
// above U+10FFFF. Header-only, so that a build tool can use it without linking the library.
#ifndef OVZ_SRC_UTF8_H
#define OVZ_SRC_UTF8_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ovz_utf8 {

// The length of the character that starts at `p`, with `remaining` bytes available: 1 to 4
// for a valid character, 0 when `remaining` is 0 or the bytes end inside a character that is
// valid so far, -1 when the bytes cannot begin a valid character.
inline int sequenceLength(const unsigned char* p, std::size_t remaining) {
    if (remaining == 0) return 0;
    const unsigned char b0 = p[0];
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
        if (static_cast<std::size_t>(i) >= remaining) return 0;
        const unsigned char b = p[i];
        if (i == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return -1;
    }
    return len;
}

// True when all `n` bytes at `p` are valid UTF-8 (a truncated last character is not).
inline bool isValid(const unsigned char* p, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
        const int len = sequenceLength(p + i, n - i);
        if (len <= 0) return false;
        i += static_cast<std::size_t>(len);
    }
    return true;
}
inline bool isValid(std::string_view text) {
    return isValid(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// The code point of the `len` bytes at `p`. REQUIRES: sequenceLength(p, ...) returned len.
inline std::uint32_t decode(const unsigned char* p, int len) {
    if (len == 1) return p[0];
    std::uint32_t cp = p[0] & (0xFFu >> (len + 1));
    for (int i = 1; i < len; ++i) cp = (cp << 6) | (p[i] & 0x3Fu);
    return cp;
}

// True for a Unicode scalar value other than U+0000 (which a C text cannot hold).
inline bool isScalar(std::uint32_t cp) {
    return cp != 0 && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

// Appends the shortest form of `cp` to `out`. REQUIRES: cp <= 0x10FFFF and not a surrogate.
inline void append(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace ovz_utf8

#endif  // OVZ_SRC_UTF8_H
