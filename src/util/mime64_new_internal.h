// The plain, character-at-a-time base64 coders, kept beside the fast ones in mime64_new.cc as
// their reference, and the choice of the vector kernels that the fast ones use: tests and
// fuzz targets force each kernel in turn and check that every path gives the same results.
// Not part of the library's interface.
#ifndef OVUTIL_MIME64_NEW_INTERNAL_H
#define OVUTIL_MIME64_NEW_INTERNAL_H

#include <cstddef>

namespace ovutil::mime64_internal {

// Same contract as mime64_new_encode.
char* encode_plain(const unsigned char* data, unsigned int length);

// Same contract as mime64_new_decode.
void decode_plain(const char* text, int length, char** result, unsigned int* result_length);

// The vector kernels of the fast coders. Scalar means none: the scalar coders do everything.
enum class Kernel { Scalar, Avx2, Avx512Vbmi };

// "scalar", "avx2", "avx512vbmi".
const char* kernel_name(Kernel kernel);
// Whether this CPU (and its operating system) can run `kernel`. Scalar always can.
bool kernel_supported(Kernel kernel);
// The kernel mime64_new_encode and mime64_new_decode use now: the best this CPU supports,
// unless use_kernel chose another.
Kernel active_kernel();
// Makes the fast coders use `kernel` from now on, in every thread; false (and no change)
// when this CPU cannot run it.
bool use_kernel(Kernel kernel);

// Only the blocks of `kernel` (which this CPU must support), without the scalar coders:
// returns how many input bytes (characters) it consumed. `out` needs room for
// length / 3 * 4 characters (length bytes). Scalar consumes nothing.
std::size_t kernel_encode(Kernel kernel, const unsigned char* data, std::size_t length, char* out);
std::size_t kernel_decode(Kernel kernel, const char* text, std::size_t length, unsigned char* out);

}  // namespace ovutil::mime64_internal

#endif  // OVUTIL_MIME64_NEW_INTERNAL_H
