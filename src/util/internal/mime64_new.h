// The private pieces of the base64 coder (src/util/mime64_new*.cc), shared between its
// files, and what tests, benchmarks and fuzz targets reach beyond the exported interface: the
// plain reference coders and the choice of the vector kernels, which they force in turn to
// check that every path gives the same results. Not part of the library's interface.
#ifndef OVUTIL_INTERNAL_MIME64_NEW_H
#define OVUTIL_INTERNAL_MIME64_NEW_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace ovutil_internal::mime64 {

// ---- Tables and helpers of the coders

inline constexpr unsigned char kInvalid = 255;

inline constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of every byte, kInvalid for bytes that are not part of the code ("=" and
// bytes with the high bit set included).
inline constexpr auto kValue = [] {
    std::array<unsigned char, 256> t{};
    for (auto& v : t) v = kInvalid;
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    t['-'] = 63;
    return t;
}();

// Room for the encoding of `length` bytes and its NUL; computed in size_t, since the
// unsigned int form wraps for inputs above 3 GiB.
inline std::size_t encodedSize(unsigned int length) {
    return (static_cast<std::size_t>(length) + 2) / 3 * 4 + 1;
}

// Sets both results to "nothing" and tells whether there is anything to decode.
inline bool startDecode(const char* text, int length, char** result, unsigned int* result_length) {
    if (result) *result = nullptr;
    if (result_length) *result_length = 0;
    return result && result_length && text && length > 0;
}

// ---- Coding into the caller's memory (mime64_new.cc)

// Writes the base64 text of the `length` bytes at `data` at `out`, which has room for
// encodedSize(length) - 1 characters, and returns how many it wrote (no NUL is written):
// the text mime64_new_encode returns.
std::size_t encodeTo(const unsigned char* data, unsigned int length, char* out);

// Decodes the `length` characters at `text` into `out`, which has room for `length` bytes
// (a decoding is never longer), as mime64_new_decode decodes them, and returns how many
// bytes it wrote.
std::size_t decodeTo(const char* text, std::size_t length, unsigned char* out);

// ---- Vector kernels
//
// A kernel encodes whole steps of its input and returns how many bytes it consumed (a
// multiple of 3), having written 4 characters for every 3 bytes at `out`; or decodes whole
// blocks of valid characters and returns how many characters it consumed (a multiple of 4),
// having written 3 bytes for every 4 characters. It never reads past `length` and never
// writes past the room the callers guarantee (see there).

using EncodeKernel = std::size_t (*)(const unsigned char* in, std::size_t length, char* out);
using DecodeKernel = std::size_t (*)(const unsigned char* in, std::size_t length,
                                     unsigned char* out);

struct Kernels {
    EncodeKernel encode;  // null: scalar only
    DecodeKernel decode;
};

// The kernels of this CPU's families (mime64_new_x86.cc); none elsewhere.
#if defined(__x86_64__) || defined(__i386__)
#define OV_MIME64_X86 1
extern const Kernels kAvx2Kernels;
extern const Kernels kVbmiKernels;
#endif

// The vector kernels of the fast coders. Scalar means none: the scalar coders do everything.
enum class Kernel { Scalar, Avx2, Avx512Vbmi };

// The kernels the exported coders use: the best this CPU supports, chosen on first use, unless
// useKernel chose others (mime64_new_cpu.cc).
const Kernels* kernels();

// "scalar", "avx2", "avx512vbmi".
const char* kernelName(Kernel kernel);
// Whether this CPU (and its operating system) can run `kernel`. Scalar always can.
bool kernelSupported(Kernel kernel);
// The kernel mime64_new_encode and mime64_new_decode use now: the best this CPU supports,
// unless useKernel chose another.
Kernel activeKernel();
// Makes the fast coders use `kernel` from now on, in every thread; false (and no change)
// when this CPU cannot run it.
bool useKernel(Kernel kernel);

// Only the blocks of `kernel` (which this CPU must support), without the scalar coders:
// returns how many input bytes (characters) it consumed. `out` needs room for
// length / 3 * 4 characters (length bytes). Scalar consumes nothing.
std::size_t kernelEncode(Kernel kernel, const unsigned char* data, std::size_t length, char* out);
std::size_t kernelDecode(Kernel kernel, const char* text, std::size_t length, unsigned char* out);

// ---- The plain coders (mime64_new_reference.cc): the definition, character by character,
// the reference the fast coders are held to. Linked into tests, benchmarks and fuzz targets
// only, not into the library.

// Same contract as mime64_new_encode.
char* encodePlain(const unsigned char* data, unsigned int length);

// Same contract as mime64_new_decode.
void decodePlain(const char* text, int length, char** result, unsigned int* result_length);

}  // namespace ovutil_internal::mime64

#endif  // OVUTIL_INTERNAL_MIME64_NEW_H
