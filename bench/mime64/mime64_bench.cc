// Base64 of 16 bytes, 48 bytes and 64 KiB: the coders beside OpenSSL's EVP_EncodeBlock /
// EVP_DecodeBlock, GLib's g_base64_encode / g_base64_decode, and memcpy of the same size.
// BM_Mime64Encode/Decode use the kernel the coders choose for this CPU; the _With variants
// force each kernel in turn (scalar: none), so the paths can be compared.
// Bytes processed are the binary bytes in both directions, so the figures compare directly.
// Each coder allocates its result as it would in use (OpenSSL writes into a ready buffer).

#include <ovutil/mime64.h>

#include "internal/mime64_new.h"

#include <benchmark/benchmark.h>
#include <glib.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> random_bytes(size_t n) {
    std::mt19937 rng(42);
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

std::string base64_of(const std::vector<unsigned char>& bytes) {
    char* text = mime64_new_encode(bytes.data(), static_cast<unsigned int>(bytes.size()));
    std::string s(text);
    std::free(text);
    return s;
}

void sizes(benchmark::internal::Benchmark* b) { b->Arg(16)->Arg(48)->Arg(64 << 10); }

void BM_Mime64Encode(benchmark::State& state) {
    const auto bytes = random_bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        char* text = mime64_new_encode(bytes.data(), static_cast<unsigned int>(bytes.size()));
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Mime64Encode)->Apply(sizes);

using ovutil_internal::mime64::Kernel;

// Runs `body` with the coders forced onto `kernel`, then goes back to the CPU's choice.
template <typename Body>
void withKernel(benchmark::State& state, Kernel kernel, Body body) {
    const Kernel chosen = ovutil_internal::mime64::activeKernel();
    if (!ovutil_internal::mime64::useKernel(kernel)) {
        state.SkipWithError("this CPU cannot run the kernel");
        return;
    }
    body();
    ovutil_internal::mime64::useKernel(chosen);
}

void BM_Mime64EncodeWith(benchmark::State& state, Kernel kernel) {
    withKernel(state, kernel, [&] { BM_Mime64Encode(state); });
}
BENCHMARK_CAPTURE(BM_Mime64EncodeWith, scalar, Kernel::Scalar)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Mime64EncodeWith, avx2, Kernel::Avx2)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Mime64EncodeWith, avx512vbmi, Kernel::Avx512Vbmi)->Apply(sizes);

void BM_OpenSslEncode(benchmark::State& state) {
    const auto bytes = random_bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        unsigned char* text =
            static_cast<unsigned char*>(std::malloc((bytes.size() + 2) / 3 * 4 + 1));
        EVP_EncodeBlock(text, bytes.data(), static_cast<int>(bytes.size()));
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSslEncode)->Apply(sizes);

void BM_GLibEncode(benchmark::State& state) {
    const auto bytes = random_bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        gchar* text = g_base64_encode(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(text);
        g_free(text);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GLibEncode)->Apply(sizes);

void BM_Mime64Decode(benchmark::State& state) {
    const std::string text = base64_of(random_bytes(static_cast<size_t>(state.range(0))));
    for (auto _ : state) {
        char* out = nullptr;
        unsigned int n = 0;
        mime64_new_decode(text.data(), static_cast<int>(text.size()), &out, &n);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Mime64Decode)->Apply(sizes);

void BM_Mime64DecodeWith(benchmark::State& state, Kernel kernel) {
    withKernel(state, kernel, [&] { BM_Mime64Decode(state); });
}
BENCHMARK_CAPTURE(BM_Mime64DecodeWith, scalar, Kernel::Scalar)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Mime64DecodeWith, avx2, Kernel::Avx2)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Mime64DecodeWith, avx512vbmi, Kernel::Avx512Vbmi)->Apply(sizes);

void BM_OpenSslDecode(benchmark::State& state) {
    const std::string text = base64_of(random_bytes(static_cast<size_t>(state.range(0))));
    for (auto _ : state) {
        unsigned char* out = static_cast<unsigned char*>(std::malloc(text.size()));
        EVP_DecodeBlock(out, reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSslDecode)->Apply(sizes);

void BM_GLibDecode(benchmark::State& state) {
    const std::string text = base64_of(random_bytes(static_cast<size_t>(state.range(0))));
    for (auto _ : state) {
        gsize n = 0;
        guchar* out = g_base64_decode(text.c_str(), &n);
        benchmark::DoNotOptimize(out);
        g_free(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GLibDecode)->Apply(sizes);

void BM_Memcpy(benchmark::State& state) {
    const auto bytes = random_bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        unsigned char* copy = static_cast<unsigned char*>(std::malloc(bytes.size()));
        std::memcpy(copy, bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy);
        std::free(copy);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Memcpy)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
