// The vector kernels of the base64 coder for x86: AVX2 (32 characters per step) and AVX-512
// VBMI (64 characters per step), each compiled for its instruction set alone and run only on
// a CPU that has it (mime64_new_cpu.cc chooses). What a kernel does and leaves to the scalar
// coders is said in internal/mime64_new.h.
#include "internal/mime64_new.h"

#if OV_MIME64_X86

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace ovutil_internal::mime64 {

namespace {

#define OV_TARGET_AVX2 __attribute__((target("avx2")))
#define OV_TARGET_VBMI __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))

// The zero-masked forms with every lane kept: the same instructions, without the undefined
// source operand of the plain forms, which some compilers warn about.
constexpr __mmask64 kAllLanes = ~__mmask64{0};

// 6-bit values to characters, 32 at a time: each value picks an offset by its range.
OV_TARGET_AVX2 inline __m256i valuesToCharsAvx2(__m256i v) {
    // 0..25 -> 13, 26..51 -> 0, 52..61 -> 1..10, 62 -> 11, 63 -> 12.
    __m256i range = _mm256_subs_epu8(v, _mm256_set1_epi8(51));
    const __m256i below26 = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), v);
    range = _mm256_or_si256(range, _mm256_and_si256(below26, _mm256_set1_epi8(13)));
    const __m256i offsets =
        _mm256_setr_epi8(71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0, 71, -4, -4,
                         -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
    return _mm256_add_epi8(v, _mm256_shuffle_epi8(offsets, range));
}

// 24 bytes to 32 characters per step. Each step loads 32 bytes, so it runs while 32 remain.
OV_TARGET_AVX2 std::size_t encodeAvx2(const unsigned char* in, std::size_t length, char* out) {
    // Bytes 0..11 in the low lane and 12..23 in the high one, then within each group of three
    // the byte order b1 b0 b2 b1 that puts each 6-bit field in reach of one multiply.
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    const __m256i order = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0,
                                           2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
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
                            valuesToCharsAvx2(_mm256_or_si256(odd, even)));
    }
    return i;
}

// 32 characters to 24 bytes per step, for as long as a whole block is valid.
OV_TARGET_AVX2 std::size_t decodeAvx2(const unsigned char* in, std::size_t length,
                                      unsigned char* out) {
    // A character is outside the code when the classes of its high and low nibbles share a
    // bit. Classes of the high nibble: 2 -> 0x01, 3 -> 0x02, 4 and 6 -> 0x04, 5 and 7 ->
    // 0x08, anything else (controls, high bit set) -> 0x10. The low nibble's entry has the
    // bit of every high-nibble class in which it is not a character of the code ("+", "-"
    // and "/" in 0x2_, "0".."9", "A".."O" and "a".."o" without their first, "P".."Z" and
    // "p".."z").
    const __m256i high_class =
        _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i low_refused =
        _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                         0x1B, 0x1A, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                         0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1A, 0x1B, 0x1A);
    // Offset from character to value, by the high nibble, with "-" and "/" moved to slots
    // 0 and 1 of the table (from 2, where "+" stays).
    const __m256i offsets =
        _mm256_setr_epi8(18, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 18, 16, 19, 4,
                         -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    // The three bytes of each 32-bit group, most significant first, packed at the low end
    // of each lane; then the two lanes' 12 bytes joined.
    const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                          1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    std::size_t i = 0;
    for (; length - i >= 32; i += 32, out += 24) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(c, 4), nibble);
        const __m256i refused =
            _mm256_and_si256(_mm256_shuffle_epi8(low_refused, _mm256_and_si256(c, nibble)),
                             _mm256_shuffle_epi8(high_class, high));
        if (!_mm256_testz_si256(refused, refused)) break;
        const __m256i dash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('-'));
        const __m256i slash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('/'));
        const __m256i slot =
            _mm256_add_epi8(_mm256_add_epi8(high, slash), _mm256_add_epi8(dash, dash));
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
    unsigned char encodeOrder[64];  // b1 b0 b2 b1 of each group of three bytes
    unsigned char alphabet[64];
    unsigned char values[128];  // value of each 7-bit character, 0x80 outside the code
    unsigned char pack[64];     // the three bytes of each 32-bit group, most significant first
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
OV_TARGET_VBMI std::size_t encodeVbmi(const unsigned char* in, std::size_t length, char* out) {
    const __m512i order = _mm512_load_si512(kVbmi.encodeOrder);
    const __m512i alphabet = _mm512_load_si512(kVbmi.alphabet);
    // Bit offsets of the four 6-bit fields in each 32-bit group b1 b0 b2 b1: 10, 4, 22, 16.
    const __m512i fields = _mm512_set1_epi64(0x3036242A1016040ALL);
    std::size_t i = 0;
    for (; length - i >= 64; i += 48, out += 64) {
        const __m512i v =
            _mm512_maskz_permutexvar_epi8(kAllLanes, order, _mm512_loadu_si512(in + i));
        const __m512i values = _mm512_maskz_multishift_epi64_epi8(kAllLanes, fields, v);
        _mm512_storeu_si512(out, _mm512_maskz_permutexvar_epi8(kAllLanes, values, alphabet));
    }
    return i + encodeAvx2(in + i, length - i, out);
}

// 64 characters to 48 bytes per step, for as long as a whole block is valid.
OV_TARGET_VBMI std::size_t decodeVbmi(const unsigned char* in, std::size_t length,
                                      unsigned char* out) {
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
    if (length - i >= 32) i += decodeAvx2(in + i, length - i, out);
    return i;
}

}  // namespace

const Kernels kAvx2Kernels{encodeAvx2, decodeAvx2};
const Kernels kVbmiKernels{encodeVbmi, decodeVbmi};

}  // namespace ovutil_internal::mime64

#endif  // OV_MIME64_X86
