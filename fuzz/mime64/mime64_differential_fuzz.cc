// The fast coders against the plain reference coders, once on each path: with every vector
// kernel this CPU can run forced in turn, and with none. The first byte picks how the rest
// is read: as raw text, or mapped mostly onto the alphabet with foreign characters, "-" and
// "=" mixed in, so that the kernels' blocks and the decoder's four-character runs start and
// stop everywhere. The rest is also encoded by both encoders.

#include <ovutil/mime64.h>

#include "internal/mime64_new.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void same_decoding(const std::string& text) {
    char* fast = nullptr;
    unsigned int fast_n = 0;
    char* plain = nullptr;
    unsigned int plain_n = 0;
    mime64_new_decode(text.data(), static_cast<int>(text.size()), &fast, &fast_n);
    ovutil_internal::mime64::decodePlain(text.data(), static_cast<int>(text.size()), &plain,
                                         &plain_n);
    if (fast_n != plain_n || (fast == nullptr) != (plain == nullptr)) std::abort();
    if (fast_n && std::memcmp(fast, plain, fast_n) != 0) std::abort();
    std::free(fast);
    std::free(plain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > INT_MAX) return 0;
    const uint8_t mode = data[0];
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string text = rest;
    if (mode & 1) {
        static const char kOthers[] = "=- \n\r*\x80\xFF";
        for (auto& c : text) {
            const auto b = static_cast<unsigned char>(c);
            c = b < 232 ? new_alphabet[b % 64] : kOthers[b % (sizeof kOthers - 1)];
        }
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(rest.data());
    const auto n = static_cast<unsigned int>(rest.size());
    char* plain = ovutil_internal::mime64::encodePlain(bytes, n);
    if (!plain) std::abort();

    using ovutil_internal::mime64::Kernel;
    for (Kernel kernel : {Kernel::Scalar, Kernel::Avx2, Kernel::Avx512Vbmi}) {
        if (!ovutil_internal::mime64::useKernel(kernel)) continue;
        same_decoding(text);
        char* fast = mime64_new_encode(bytes, n);
        if (!fast || std::strcmp(fast, plain) != 0) std::abort();
        std::free(fast);
    }
    std::free(plain);
    return 0;
}
