// The choice of the base64 coder's vector kernels: what this CPU can run, the best of it
// chosen once, and the switches that tests and benchmarks use to force each kernel in turn.
#include "internal/mime64_new.h"

#include <atomic>
#include <cstddef>

namespace ovutil_internal::mime64 {

namespace {

constexpr Kernels kScalarKernels{nullptr, nullptr};

const Kernels* kernelsOf(Kernel k) {
    switch (k) {
#if OV_MIME64_X86
        case Kernel::Avx2:
            return &kAvx2Kernels;
        case Kernel::Avx512Vbmi:
            return &kVbmiKernels;
#endif
        default:
            return &kScalarKernels;
    }
}

bool cpuHas(Kernel k) {
#if OV_MIME64_X86
    __builtin_cpu_init();
    switch (k) {
        case Kernel::Scalar:
            return true;
        case Kernel::Avx2:
            return __builtin_cpu_supports("avx2");
        case Kernel::Avx512Vbmi:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                   __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
    }
    return false;
#else
    return k == Kernel::Scalar;
#endif
}

Kernel bestKernel() {
    for (Kernel k : {Kernel::Avx512Vbmi, Kernel::Avx2})
        if (cpuHas(k)) return k;
    return Kernel::Scalar;
}

// The kernels in use: chosen on first use (the choice is the same in every thread, so a race
// to make it is harmless), or forced by tests.
std::atomic<const Kernels*> activeKernels{nullptr};
std::atomic<Kernel> activeKind{Kernel::Scalar};

}  // namespace

const Kernels* kernels() {
    const Kernels* k = activeKernels.load(std::memory_order_relaxed);
    if (k != nullptr) return k;
    const Kernel best = bestKernel();
    activeKind.store(best, std::memory_order_relaxed);
    k = kernelsOf(best);
    activeKernels.store(k, std::memory_order_relaxed);
    return k;
}

const char* kernelName(Kernel kernel) {
    switch (kernel) {
        case Kernel::Scalar:
            return "scalar";
        case Kernel::Avx2:
            return "avx2";
        case Kernel::Avx512Vbmi:
            return "avx512vbmi";
    }
    return "unknown";
}

bool kernelSupported(Kernel kernel) { return cpuHas(kernel); }

Kernel activeKernel() {
    kernels();
    return activeKind.load(std::memory_order_relaxed);
}

bool useKernel(Kernel kernel) {
    if (!cpuHas(kernel)) return false;
    activeKind.store(kernel, std::memory_order_relaxed);
    activeKernels.store(kernelsOf(kernel), std::memory_order_relaxed);
    return true;
}

std::size_t kernelEncode(Kernel kernel, const unsigned char* data, std::size_t length, char* out) {
    const Kernels* k = kernelsOf(kernel);
    return k->encode != nullptr ? k->encode(data, length, out) : 0;
}

std::size_t kernelDecode(Kernel kernel, const char* text, std::size_t length, unsigned char* out) {
    const Kernels* k = kernelsOf(kernel);
    return k->decode != nullptr
               ? k->decode(reinterpret_cast<const unsigned char*>(text), length, out)
               : 0;
}

}  // namespace ovutil_internal::mime64
