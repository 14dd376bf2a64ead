// Base64 coders: the exported entry points and the scalar coders. Long inputs go through
// vector kernels (mime64_new_x86.cc), chosen once from the CPU's features
// (mime64_new_cpu.cc): AVX-512 VBMI (64 characters per step), else AVX2 (32 characters per
// step), else none. Everything the kernels leave (short inputs, tails, and any 32- or
// 64-character block of the decoder's input that holds a byte outside the alphabet, "="
// included) goes through the scalar coders here: the encoder turns 12 bits at a time into two
// characters through a 4096-entry table, and the decoder turns runs of four valid characters
// into three bytes at once, falling back to one character at a time only around anything
// else. A kernel decodes only blocks of valid characters starting at a group boundary, where
// the scalar decoder would also take four characters at a time, so every path gives exactly
// the same results. The plain coders of mime64_new_reference.cc follow the definition
// character by character and stay as the reference that tests and fuzz targets hold these to.

#include <ovutil/mime64.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "internal/mime64_new.h"

extern "C" {

const char new_alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

#define X 255
const unsigned char new_reverse_alphabet[128] = {
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0x00
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,   // 0x10
    X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  X,  62, X,  63, X,  63,  // 0x20: + - /
    52, 53, 54, 55, 56, 57, 58, 59, 60, 61, X,  X,  X,  X,  X,  X,   // 0x30: 0-9
    X,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,  // 0x40: A-O
    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, X,  X,  X,  X,  X,   // 0x50: P-Z
    X,  26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40,  // 0x60: a-o
    41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, X,  X,  X,  X,  X,   // 0x70: p-z
};
#undef X

const unsigned char new_bitmasks[8] = {0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};

}  // extern "C"

namespace {

using namespace ovutil_internal::mime64;

// ---- Tables of the scalar coders

// The two characters of every 12-bit value, laid out so that storing an entry writes them
// in order.
constexpr auto kPairs = [] {
    std::array<std::uint16_t, 4096> t{};
    for (int v = 0; v < 4096; ++v) {
        const unsigned first = static_cast<unsigned char>(kAlphabet[v >> 6]);
        const unsigned second = static_cast<unsigned char>(kAlphabet[v & 63]);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        t[v] = static_cast<std::uint16_t>(first | second << 8);
#else
        t[v] = static_cast<std::uint16_t>(first << 8 | second);
#endif
    }
    return t;
}();

// kValue shifted into place for each position of a group of four, in one table so that a
// single base register reaches all four; a character outside the code sets bits above the
// 24 data bits, so one test rejects the whole group.
constexpr auto kShifted = [] {
    std::array<std::uint32_t, 4 * 256> t{};
    for (int pos = 0; pos < 4; ++pos)
        for (int c = 0; c < 256; ++c)
            t[pos * 256 + c] =
                kValue[c] == kInvalid ? 0xFF000000u : std::uint32_t{kValue[c]} << (18 - 6 * pos);
    return t;
}();

inline std::uint64_t loadBe64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// Writes the 48 bits at the top of `bits` as 6 bytes, plus two bytes of scratch after them.
inline void storeBe48(unsigned char* p, std::uint64_t bits) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    bits = __builtin_bswap64(bits);
#endif
    std::memcpy(p, &bits, sizeof bits);
}

// Writes the 24 bits of `bits` as 3 bytes, plus one byte of scratch after them.
inline void storeBe24(unsigned char* p, std::uint32_t bits) {
    std::uint32_t v = bits << 8;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    std::memcpy(p, &v, sizeof v);
}

inline char* putPair(char* o, std::uint32_t twelve_bits) {
    std::memcpy(o, &kPairs[twelve_bits], 2);
    return o + 2;
}

// Writes the 8 characters of the 48 bits at the top of `w`.
inline char* putSixBytes(char* o, std::uint64_t w) {
    std::memcpy(o, &kPairs[(w >> 52) & 0xFFF], 2);
    std::memcpy(o + 2, &kPairs[(w >> 40) & 0xFFF], 2);
    std::memcpy(o + 4, &kPairs[(w >> 28) & 0xFFF], 2);
    std::memcpy(o + 6, &kPairs[(w >> 16) & 0xFFF], 2);
    return o + 8;
}

// The 24 bits of the group of four characters at p; bits above them are set if one of the
// characters is not in the code.
inline std::uint32_t groupBits(const unsigned char* p) {
    return kShifted[p[0]] | kShifted[256 + p[1]] | kShifted[512 + p[2]] | kShifted[768 + p[3]];
}

// Decodes the group of four characters at p into 24 bits; false if one is not in the code.
inline bool decodeQuad(const unsigned char* p, std::uint32_t& bits) {
    bits = groupBits(p);
    return (bits >> 24) == 0;
}

// The fast decoder's loop: decodes the `n` characters at `in` into `o` and returns the end of
// the result. With a kernel, whole blocks of valid characters go through it wherever a group
// starts; without one this is the scalar decoder alone.
template <bool kWithKernel>
unsigned char* decodeInto(const unsigned char* in, std::size_t n, unsigned char* o,
                          DecodeKernel kernel) {
    std::size_t i = 0;
    // After a block the kernel refused, the scalar decoder gets past the disturbance before
    // the kernel is tried again.
    std::size_t kernel_from = 0;
    for (;;) {
        if constexpr (kWithKernel) {
            // The output has room for 4 bytes per 4 characters left (see below), which covers
            // the scratch bytes of the kernels' wide stores.
            if (i >= kernel_from && n - i >= 32) {
                const std::size_t done = kernel(in + i, n - i, o);
                i += done;
                o += done / 4 * 3;
                kernel_from = i + 32;
            }
        }
        // Runs of four valid characters. The output holds 3 bytes for every 4 characters read
        // and the buffer is as long as the input, so with 20 (8) characters left there are at
        // least 20 (8) bytes of room: enough for the 8-byte stores at +0 and +6 (the 4-byte
        // store), whose scratch bytes are overwritten later or lie beyond the result. (Lower
        // limits would do, but these measured fastest.) With a kernel, the runs stop where
        // the kernel may try again.
        std::uint32_t bits;
        while (n - i >= 20 && (!kWithKernel || i < kernel_from)) {
            const std::uint32_t g0 = groupBits(in + i), g1 = groupBits(in + i + 4),
                                g2 = groupBits(in + i + 8), g3 = groupBits(in + i + 12);
            if ((g0 | g1 | g2 | g3) >> 24) break;
            storeBe48(o, std::uint64_t{g0} << 40 | std::uint64_t{g1} << 16);
            storeBe48(o + 6, std::uint64_t{g2} << 40 | std::uint64_t{g3} << 16);
            o += 12;
            i += 16;
        }
        while (n - i >= 8 && (!kWithKernel || i < kernel_from) && decodeQuad(in + i, bits)) {
            storeBe24(o, bits);
            o += 3;
            i += 4;
        }
        // Anything else: one group collected a character at a time, as the plain coder does.
        std::uint32_t s[4] = {0, 0, 0, 0};
        int k = 0;
        while (k < 4 && i < n) {
            const unsigned char c = in[i];
            if (c == '=') break;
            ++i;
            if (kValue[c] != kInvalid) s[k++] = kValue[c];
        }
        if (k >= 1) *o++ = static_cast<unsigned char>(s[0] << 2 | s[1] >> 4);
        if (k >= 2) *o++ = static_cast<unsigned char>((s[1] & 0x0F) << 4 | s[2] >> 2);
        if (k >= 3) *o++ = static_cast<unsigned char>((s[2] & 0x03) << 6 | s[3]);
        if (k < 4) {
            if (k >= 1) --o;
            return o;
        }
    }
}
}  // namespace

extern "C" {

char* mime64_new_encode(const unsigned char* data, unsigned int length) {
    char* const out = static_cast<char*>(std::malloc(encodedSize(length)));
    if (!out) return nullptr;
    out[ovutil_internal::mime64::encodeTo(data, length, out)] = '\0';
    return out;
}

void mime64_new_decode(const char* text, int length, char** result, unsigned int* result_length) {
    if (!startDecode(text, length, result, result_length)) return;
    const std::size_t n = static_cast<std::size_t>(length);
    unsigned char* const out = static_cast<unsigned char*>(std::malloc(n));
    if (!out) return;
    *result = reinterpret_cast<char*>(out);
    *result_length = static_cast<unsigned int>(ovutil_internal::mime64::decodeTo(text, n, out));
}

}  // extern "C"

std::size_t ovutil_internal::mime64::encodeTo(const unsigned char* data, unsigned int length,
                                              char* out) {
    char* o = out;
    std::size_t i = 0;
    // Short inputs never reach a kernel: not even the choice of one is looked at. The
    // output holds 4 characters for every 3 bytes, exactly: a kernel stores only whole steps
    // of 32 or 64 characters, for 24 or 48 bytes it has read.
    if (length >= 32) {
        if (const EncodeKernel kernel = kernels()->encode) {
            i = kernel(data, length, o);
            o += i / 3 * 4;
        }
    }
    // Six bytes per 8-byte load, two loads per step.
    for (; length - i >= 14; i += 12) {
        o = putSixBytes(o, loadBe64(data + i));
        o = putSixBytes(o, loadBe64(data + i + 6));
    }
    for (; length - i >= 8; i += 6) o = putSixBytes(o, loadBe64(data + i));
    for (; length - i >= 3; i += 3) {
        const std::uint32_t v =
            std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 | data[i + 2];
        o = putPair(o, v >> 12);
        o = putPair(o, v & 0xFFF);
    }
    if (length - i == 2) {
        const std::uint32_t v = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8;
        o = putPair(o, v >> 12);
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = '=';
    } else if (length - i == 1) {
        o = putPair(o, std::uint32_t{data[i]} << 4);
        *o++ = '=';
        *o++ = '=';
    }
    return static_cast<std::size_t>(o - out);
}

std::size_t ovutil_internal::mime64::decodeTo(const char* text, std::size_t n, unsigned char* out) {
    const unsigned char* const in = reinterpret_cast<const unsigned char*>(text);
    // Short texts never reach a kernel: not even the choice of one is looked at.
    const DecodeKernel kernel = n >= 32 ? kernels()->decode : nullptr;
    unsigned char* const end = kernel != nullptr ? decodeInto<true>(in, n, out, kernel)
                                                 : decodeInto<false>(in, n, out, nullptr);
    return static_cast<std::size_t>(end - out);
}
