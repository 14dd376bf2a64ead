// Base64 coders. The exported entry points are the fast ones. Long inputs go through
// vector kernels, chosen once from the CPU's features: AVX-512 VBMI (64 characters per
// step), else AVX2 (32 characters per step), else none. Everything the kernels leave (short
// inputs, tails, and any 32- or 64-character block of the decoder's input that holds a byte
// outside the alphabet, "=" included) goes through the scalar coders: the encoder turns 12
// bits at a time into two characters through a 4096-entry table, and the decoder turns runs
// of four valid characters into three bytes at once, falling back to one character at a
// time only around anything else. A kernel decodes only blocks of valid characters starting
// at a group boundary, where the scalar decoder would also take four characters at a time,
// so every path gives exactly the same results.
// The plain coders below follow the definition character by character and stay as the
// reference that tests and fuzz targets hold the fast ones to.

#include <ovutil/mime64.h>

#include "mime64_new_internal.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define OV_MIME64_X86 1
#endif

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

constexpr unsigned char kInvalid = 255;

// Room for the encoding of `length` bytes and its NUL; computed in size_t, since the
// unsigned int form wraps for inputs above 3 GiB.
std::size_t encoded_size(unsigned int length) {
    return (static_cast<std::size_t>(length) + 2) / 3 * 4 + 1;
}

// ---- Fast coders' tables ----------------------------------------------------------------

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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

// The 6-bit value of every byte, kInvalid for bytes that are not part of the code ("=" and
// bytes with the high bit set included).
constexpr auto kValue = [] {
    std::array<unsigned char, 256> t{};
    for (auto& v : t) v = kInvalid;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    t['-'] = 63;
    return t;
}();

// kValue shifted into place for each position of a group of four, in one table so that a
// single base register reaches all four; a character outside the code sets bits above the
// 24 data bits, so one test rejects the whole group.
constexpr auto kShifted = [] {
    std::array<std::uint32_t, 4 * 256> t{};
    for (int pos = 0; pos < 4; ++pos)
        for (int c = 0; c < 256; ++c)
            t[pos * 256 + c] = kValue[c] == kInvalid ? 0xFF000000u
                                                     : std::uint32_t{kValue[c]} << (18 - 6 * pos);
    return t;
}();

inline std::uint64_t load_be64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// Writes the 48 bits at the top of `bits` as 6 bytes, plus two bytes of scratch after them.
inline void store_be48(unsigned char* p, std::uint64_t bits) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    bits = __builtin_bswap64(bits);
#endif
    std::memcpy(p, &bits, sizeof bits);
}

// Writes the 24 bits of `bits` as 3 bytes, plus one byte of scratch after them.
inline void store_be24(unsigned char* p, std::uint32_t bits) {
    std::uint32_t v = bits << 8;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    std::memcpy(p, &v, sizeof v);
}

inline char* put_pair(char* o, std::uint32_t twelve_bits) {
    std::memcpy(o, &kPairs[twelve_bits], 2);
    return o + 2;
}

// Writes the 8 characters of the 48 bits at the top of `w`.
inline char* put_six_bytes(char* o, std::uint64_t w) {
    std::memcpy(o, &kPairs[(w >> 52) & 0xFFF], 2);
    std::memcpy(o + 2, &kPairs[(w >> 40) & 0xFFF], 2);
    std::memcpy(o + 4, &kPairs[(w >> 28) & 0xFFF], 2);
    std::memcpy(o + 6, &kPairs[(w >> 16) & 0xFFF], 2);
    return o + 8;
}

// The 24 bits of the group of four characters at p; bits above them are set if one of the
// characters is not in the code.
inline std::uint32_t group_bits(const unsigned char* p) {
    return kShifted[p[0]] | kShifted[256 + p[1]] | kShifted[512 + p[2]] | kShifted[768 + p[3]];
}

// Decodes the group of four characters at p into 24 bits; false if one is not in the code.
inline bool decode_quad(const unsigned char* p, std::uint32_t& bits) {
    bits = group_bits(p);
    return (bits >> 24) == 0;
}

// Sets both results to "nothing" and tells whether there is anything to decode.
bool start_decode(const char* text, int length, char** result, unsigned int* result_length) {
    if (result) *result = nullptr;
    if (result_length) *result_length = 0;
    return result && result_length && text && length > 0;
}


// ---- Vector kernels --------------------------------------------------------------------
//
// A kernel encodes whole steps of its input and returns how many bytes it consumed (a
// multiple of 3), having written 4 characters for every 3 bytes at `out`; or decodes whole
// blocks of valid characters and returns how many characters it consumed (a multiple of 4),
// having written 3 bytes for every 4 characters. It never reads past `length` and never
// writes past the room the callers guarantee (see there).

using EncodeKernel = std::size_t (*)(const unsigned char* in, std::size_t length, char* out);
using DecodeKernel = std::size_t (*)(const unsigned char* in, std::size_t length, unsigned char* out);

struct Kernels {
    EncodeKernel encode;  // null: scalar only
    DecodeKernel decode;
};

#if OV_MIME64_X86

#define OV_TARGET_AVX2 __attribute__((target("avx2")))
#define OV_TARGET_VBMI __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))

// The zero-masked forms with every lane kept: the same instructions, without the undefined
// source operand of the plain forms, which some compilers warn about.
constexpr __mmask64 kAllLanes = ~__mmask64{0};

// 6-bit values to characters, 32 at a time: each value picks an offset by its range.
OV_TARGET_AVX2 inline __m256i values_to_chars_avx2(__m256i v) {
    // 0..25 -> 13, 26..51 -> 0, 52..61 -> 1..10, 62 -> 11, 63 -> 12.
    __m256i range = _mm256_subs_epu8(v, _mm256_set1_epi8(51));
    const __m256i below26 = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), v);
    range = _mm256_or_si256(range, _mm256_and_si256(below26, _mm256_set1_epi8(13)));
    const __m256i offsets = _mm256_setr_epi8(
        71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0,
        71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
    return _mm256_add_epi8(v, _mm256_shuffle_epi8(offsets, range));
}

// 24 bytes to 32 characters per step. Each step loads 32 bytes, so it runs while 32 remain.
OV_TARGET_AVX2 std::size_t encode_avx2(const unsigned char* in, std::size_t length, char* out) {
    // Bytes 0..11 in the low lane and 12..23 in the high one, then within each group of three
    // the byte order b1 b0 b2 b1 that puts each 6-bit field in reach of one multiply.
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    const __m256i order = _mm256_setr_epi8(
        1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,
        1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    std::size_t i = 0;
    for (; length - i >= 32; i += 24, out += 32) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        v = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(v, spread), order);
        // First and third characters: shifted down by a high multiply; second and fourth:
        // shifted up by a low multiply.
        const __m256i odd = _mm256_mulhi_epu16(_mm256_and_si256(v, _mm256_set1_epi32(0x0FC0FC00)),
                                               _mm256_set1_epi32(0x04000040));
        const __m256i even = _mm256_mullo_epi16(_mm256_and_si256(v, _mm256_set1_epi32(0x003F03F0)),
                                                _mm256_set1_epi32(0x01000010));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            values_to_chars_avx2(_mm256_or_si256(odd, even)));
    }
    return i;
}

// 32 characters to 24 bytes per step, for as long as a whole block is valid.
OV_TARGET_AVX2 std::size_t decode_avx2(const unsigned char* in, std::size_t length, unsigned char* out) {
    // A character is outside the code when the classes of its high and low nibbles share a
    // bit. Classes of the high nibble: 2 -> 0x01, 3 -> 0x02, 4 and 6 -> 0x04, 5 and 7 ->
    // 0x08, anything else (controls, high bit set) -> 0x10. The low nibble's entry has the
    // bit of every high-nibble class in which it is not a character of the code ("+", "-"
    // and "/" in 0x2_, "0".."9", "A".."O" and "a".."o" without their first, "P".."Z" and
    // "p".."z").
    const __m256i high_class = _mm256_setr_epi8(
        0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
        0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i low_refused = _mm256_setr_epi8(
        0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1A, 0x1B, 0x1A,
        0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1A, 0x1B, 0x1A);
    // Offset from character to value, by the high nibble, with "-" and "/" moved to slots
    // 0 and 1 of the table (from 2, where "+" stays).
    const __m256i offsets = _mm256_setr_epi8(
        18, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0,
        18, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    // The three bytes of each 32-bit group, most significant first, packed at the low end
    // of each lane; then the two lanes' 12 bytes joined.
    const __m256i pack = _mm256_setr_epi8(
        2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,
        2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    std::size_t i = 0;
    for (; length - i >= 32; i += 32, out += 24) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(c, 4), nibble);
        const __m256i refused = _mm256_and_si256(_mm256_shuffle_epi8(low_refused, _mm256_and_si256(c, nibble)),
                                                 _mm256_shuffle_epi8(high_class, high));
        if (!_mm256_testz_si256(refused, refused)) break;
        const __m256i dash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('-'));
        const __m256i slash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('/'));
        const __m256i slot = _mm256_add_epi8(_mm256_add_epi8(high, slash), _mm256_add_epi8(dash, dash));
        const __m256i values = _mm256_add_epi8(c, _mm256_shuffle_epi8(offsets, slot));
        // Pairs of values into 12 bits, pairs of those into 24.
        const __m256i twelve = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
        const __m256i bits = _mm256_madd_epi16(twelve, _mm256_set1_epi32(0x00011000));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(bits, pack), join);
        // 32 bytes stored, 24 of them result: the callers leave room for the other 8.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    }
    return i;
}

// The tables of the AVX-512 VBMI kernels.
struct alignas(64) VbmiTables {
    unsigned char encodeOrder[64];   // b1 b0 b2 b1 of each group of three bytes
    unsigned char alphabet[64];
    unsigned char values[128];       // value of each 7-bit character, 0x80 outside the code
    unsigned char pack[64];          // the three bytes of each 32-bit group, most significant first
};

constexpr VbmiTables kVbmi = [] {
    VbmiTables t{};
    for (int g = 0; g < 16; ++g) {
        t.encodeOrder[4 * g] = static_cast<unsigned char>(3 * g + 1);
        t.encodeOrder[4 * g + 1] = static_cast<unsigned char>(3 * g);
        t.encodeOrder[4 * g + 2] = static_cast<unsigned char>(3 * g + 2);
        t.encodeOrder[4 * g + 3] = static_cast<unsigned char>(3 * g + 1);
        t.pack[3 * g] = static_cast<unsigned char>(4 * g + 2);
        t.pack[3 * g + 1] = static_cast<unsigned char>(4 * g + 1);
        t.pack[3 * g + 2] = static_cast<unsigned char>(4 * g);
    }
    for (int v = 0; v < 64; ++v) t.alphabet[v] = static_cast<unsigned char>(kAlphabet[v]);
    for (int c = 0; c < 128; ++c) t.values[c] = kValue[c] == kInvalid ? 0x80 : kValue[c];
    return t;
}();

// 48 bytes to 64 characters per step. Each step loads 64 bytes, so it runs while 64 remain;
// the AVX2 kernel takes what is left.
OV_TARGET_VBMI std::size_t encode_vbmi(const unsigned char* in, std::size_t length, char* out) {
    const __m512i order = _mm512_load_si512(kVbmi.encodeOrder);
    const __m512i alphabet = _mm512_load_si512(kVbmi.alphabet);
    // Bit offsets of the four 6-bit fields in each 32-bit group b1 b0 b2 b1: 10, 4, 22, 16.
    const __m512i fields = _mm512_set1_epi64(0x3036242A1016040ALL);
    std::size_t i = 0;
    for (; length - i >= 64; i += 48, out += 64) {
        const __m512i v = _mm512_maskz_permutexvar_epi8(kAllLanes, order, _mm512_loadu_si512(in + i));
        const __m512i values = _mm512_maskz_multishift_epi64_epi8(kAllLanes, fields, v);
        _mm512_storeu_si512(out, _mm512_maskz_permutexvar_epi8(kAllLanes, values, alphabet));
    }
    return i + encode_avx2(in + i, length - i, out);
}

// 64 characters to 48 bytes per step, for as long as a whole block is valid.
OV_TARGET_VBMI std::size_t decode_vbmi(const unsigned char* in, std::size_t length, unsigned char* out) {
    const __m512i low = _mm512_load_si512(kVbmi.values);
    const __m512i high = _mm512_load_si512(kVbmi.values + 64);
    const __m512i pack = _mm512_load_si512(kVbmi.pack);
    std::size_t i = 0;
    for (; length - i >= 64; i += 64, out += 48) {
        const __m512i c = _mm512_loadu_si512(in + i);
        const __m512i values = _mm512_permutex2var_epi8(low, c, high);
        // A character outside the code has the high bit set in itself or in its value.
        if (_mm512_movepi8_mask(_mm512_or_si512(values, c)) != 0) break;
        const __m512i twelve = _mm512_maddubs_epi16(values, _mm512_set1_epi32(0x01400140));
        const __m512i bits = _mm512_madd_epi16(twelve, _mm512_set1_epi32(0x00011000));
        // 64 bytes stored, 48 of them result: the callers leave room for the other 16.
        _mm512_storeu_si512(out, _mm512_maskz_permutexvar_epi8(kAllLanes, pack, bits));
    }
    // A block the wider kernel refused may still hold a valid first half.
    if (length - i >= 32) i += decode_avx2(in + i, length - i, out);
    return i;
}

constexpr Kernels kAvx2Kernels{encode_avx2, decode_avx2};
constexpr Kernels kVbmiKernels{encode_vbmi, decode_vbmi};

#endif  // OV_MIME64_X86

constexpr Kernels kScalarKernels{nullptr, nullptr};

using ovutil::mime64_internal::Kernel;

const Kernels* kernels_of(Kernel k) {
    switch (k) {
#if OV_MIME64_X86
    case Kernel::Avx2: return &kAvx2Kernels;
    case Kernel::Avx512Vbmi: return &kVbmiKernels;
#endif
    default: return &kScalarKernels;
    }
}

bool cpu_has(Kernel k) {
#if OV_MIME64_X86
    __builtin_cpu_init();
    switch (k) {
    case Kernel::Scalar: return true;
    case Kernel::Avx2: return __builtin_cpu_supports("avx2");
    case Kernel::Avx512Vbmi:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
    }
    return false;
#else
    return k == Kernel::Scalar;
#endif
}

Kernel best_kernel() {
    for (Kernel k : {Kernel::Avx512Vbmi, Kernel::Avx2})
        if (cpu_has(k)) return k;
    return Kernel::Scalar;
}

// The kernels in use: chosen on first use (the choice is the same in every thread, so a race
// to make it is harmless), or forced by tests.
std::atomic<const Kernels*> active_kernels{nullptr};
std::atomic<Kernel> active_kind{Kernel::Scalar};

const Kernels* kernels() {
    const Kernels* k = active_kernels.load(std::memory_order_relaxed);
    if (k != nullptr) return k;
    const Kernel best = best_kernel();
    active_kind.store(best, std::memory_order_relaxed);
    k = kernels_of(best);
    active_kernels.store(k, std::memory_order_relaxed);
    return k;
}

// The fast decoder's loop: decodes the `n` characters at `in` into `o` and returns the end of
// the result. With a kernel, whole blocks of valid characters go through it wherever a group
// starts; without one this is the scalar decoder alone.
template <bool kWithKernel>
unsigned char* decode_into(const unsigned char* in, std::size_t n, unsigned char* o, DecodeKernel kernel) {
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
            const std::uint32_t g0 = group_bits(in + i), g1 = group_bits(in + i + 4),
                          g2 = group_bits(in + i + 8), g3 = group_bits(in + i + 12);
            if ((g0 | g1 | g2 | g3) >> 24) break;
            store_be48(o, std::uint64_t{g0} << 40 | std::uint64_t{g1} << 16);
            store_be48(o + 6, std::uint64_t{g2} << 40 | std::uint64_t{g3} << 16);
            o += 12;
            i += 16;
        }
        while (n - i >= 8 && (!kWithKernel || i < kernel_from) && decode_quad(in + i, bits)) {
            store_be24(o, bits);
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

namespace ovutil::mime64_internal {

char* encode_plain(const unsigned char* data, unsigned int length) {
    char* out = static_cast<char*>(std::malloc(encoded_size(length)));
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

void decode_plain(const char* text, int length, char** result, unsigned int* result_length) {
    if (!start_decode(text, length, result, result_length)) return;
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
        if (k >= 2) out[n++] = static_cast<unsigned char>((s[1] & new_bitmasks[3]) << 4 | s[2] >> 2);
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

const char* kernel_name(Kernel kernel) {
    switch (kernel) {
    case Kernel::Scalar: return "scalar";
    case Kernel::Avx2: return "avx2";
    case Kernel::Avx512Vbmi: return "avx512vbmi";
    }
    return "unknown";
}

bool kernel_supported(Kernel kernel) { return cpu_has(kernel); }

Kernel active_kernel() {
    kernels();
    return active_kind.load(std::memory_order_relaxed);
}

bool use_kernel(Kernel kernel) {
    if (!cpu_has(kernel)) return false;
    active_kind.store(kernel, std::memory_order_relaxed);
    active_kernels.store(kernels_of(kernel), std::memory_order_relaxed);
    return true;
}

std::size_t kernel_encode(Kernel kernel, const unsigned char* data, std::size_t length, char* out) {
    const Kernels* k = kernels_of(kernel);
    return k->encode != nullptr ? k->encode(data, length, out) : 0;
}

std::size_t kernel_decode(Kernel kernel, const char* text, std::size_t length, unsigned char* out) {
    const Kernels* k = kernels_of(kernel);
    return k->decode != nullptr ? k->decode(reinterpret_cast<const unsigned char*>(text), length, out) : 0;
}

}  // namespace ovutil::mime64_internal

extern "C" {

char* mime64_new_encode(const unsigned char* data, unsigned int length) {
    char* const out = static_cast<char*>(std::malloc(encoded_size(length)));
    if (!out) return nullptr;
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
        o = put_six_bytes(o, load_be64(data + i));
        o = put_six_bytes(o, load_be64(data + i + 6));
    }
    for (; length - i >= 8; i += 6) o = put_six_bytes(o, load_be64(data + i));
    for (; length - i >= 3; i += 3) {
        const std::uint32_t v = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 | data[i + 2];
        o = put_pair(o, v >> 12);
        o = put_pair(o, v & 0xFFF);
    }
    if (length - i == 2) {
        const std::uint32_t v = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8;
        o = put_pair(o, v >> 12);
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = '=';
    } else if (length - i == 1) {
        o = put_pair(o, std::uint32_t{data[i]} << 4);
        *o++ = '=';
        *o++ = '=';
    }
    *o = '\0';
    return out;
}

void mime64_new_decode(const char* text, int length, char** result, unsigned int* result_length) {
    if (!start_decode(text, length, result, result_length)) return;
    const std::size_t n = static_cast<std::size_t>(length);
    unsigned char* const out = static_cast<unsigned char*>(std::malloc(n));
    if (!out) return;
    const unsigned char* const in = reinterpret_cast<const unsigned char*>(text);
    // Short texts never reach a kernel: not even the choice of one is looked at.
    const DecodeKernel kernel = n >= 32 ? kernels()->decode : nullptr;
    unsigned char* const end = kernel != nullptr ? decode_into<true>(in, n, out, kernel)
                                                 : decode_into<false>(in, n, out, nullptr);
    *result = reinterpret_cast<char*>(out);
    *result_length = static_cast<unsigned int>(end - out);
}

}  // extern "C"
