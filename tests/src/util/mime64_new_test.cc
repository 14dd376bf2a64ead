// Base64 coders: the standard vectors, the lenient decoding rules, and the fast coders held
// to the plain reference coders and to OpenSSL, with each vector kernel this CPU can run
// forced in turn (and with none).

#include <ovutil/mime64.h>

#include "internal/mime64_new.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>

// Test names and failure messages show a kernel by its name, not as the enum's bytes.
namespace ovutil_internal::mime64 {
void PrintTo(Kernel kernel, std::ostream* out) { *out << kernelName(kernel); }
}  // namespace ovutil_internal::mime64

namespace {

namespace internal = ovutil_internal::mime64;
using internal::Kernel;

// The kernel the coders chose by themselves, before any test forced one.
const Kernel kDefaultKernel = internal::activeKernel();

// Runs each test with the fast coders forced onto one kernel; a kernel this CPU cannot run
// is skipped.
class Mime64Kernel : public testing::TestWithParam<Kernel> {
protected:
    void SetUp() override {
        if (!internal::kernelSupported(GetParam()))
            GTEST_SKIP() << "this CPU cannot run " << internal::kernelName(GetParam());
        ASSERT_TRUE(internal::useKernel(GetParam()));
        ASSERT_EQ(internal::activeKernel(), GetParam());
    }
    void TearDown() override { internal::useKernel(kDefaultKernel); }
};

std::string encode(const std::string& bytes) {
    char* text = mime64_new_encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   static_cast<unsigned int>(bytes.size()));
    EXPECT_NE(text, nullptr);
    std::string s = text ? text : "";
    std::free(text);
    return s;
}

std::string encodePlain(const std::string& bytes) {
    char* text = internal::encodePlain(reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<unsigned int>(bytes.size()));
    EXPECT_NE(text, nullptr);
    std::string s = text ? text : "";
    std::free(text);
    return s;
}

using DecodeFn = void (*)(const char*, int, char**, unsigned int*);

// Decodes with `fn`; the buffer must come back allocated for any non-empty input.
std::string decode_with(DecodeFn fn, const std::string& text) {
    char* out = nullptr;
    unsigned int n = 12345;
    fn(text.data(), static_cast<int>(text.size()), &out, &n);
    EXPECT_TRUE(text.empty() || out != nullptr);
    std::string s(out ? out : "", out ? n : 0);
    std::free(out);
    return s;
}

std::string decode(const std::string& text) { return decode_with(mime64_new_decode, text); }

std::string openssl_encode(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string random_bytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

TEST(Mime64Tables, AlphabetAndReverseAreInverseWithDashAs63) {
    ASSERT_EQ(std::strlen(new_alphabet), 64u);
    EXPECT_STREQ(new_alphabet, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    for (int v = 0; v < 64; ++v)
        EXPECT_EQ(new_reverse_alphabet[static_cast<unsigned char>(new_alphabet[v])], v) << v;
    int in_code = 0;
    for (int c = 0; c < 128; ++c) in_code += new_reverse_alphabet[c] != 255;
    EXPECT_EQ(in_code, 65);
    EXPECT_EQ(new_reverse_alphabet['-'], 63);
    EXPECT_EQ(new_reverse_alphabet['='], 255);
    const unsigned char masks[8] = {0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};
    EXPECT_EQ(std::memcmp(new_bitmasks, masks, 8), 0);
}

TEST_P(Mime64Kernel, StandardVectorsEncodeAndDecodeWithAndWithoutPadding) {
    const struct {
        const char* bytes;
        const char* text;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFF\xFE\xFD", "//79"},
        {"\xFB\xFF", "+/8="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(encode(c.bytes), c.text);
        EXPECT_EQ(decode(c.text), c.bytes);
        std::string unpadded = c.text;
        unpadded.erase(unpadded.find_last_not_of('=') + 1);
        EXPECT_EQ(decode(unpadded), c.bytes);
    }
}

TEST(Mime64, EncodingOfZeroBytesIsAnAllocatedEmptyText) {
    char* text = mime64_new_encode(nullptr, 0);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    std::free(text);
}

TEST_P(Mime64Kernel, DecodingIsLenient) {
    const struct {
        const char* what;
        std::string text;
        std::string bytes;
    } cases[] = {
        {"line breaks and spaces are skipped", "Zm9v\r\nYm\n Fy", "foobar"},
        {"spaces between every character", " Z m 9 v Y g = = ", "foob"},
        {"foreign characters are skipped", "Z*m9!v~", "foo"},
        {"bytes with the high bit set are skipped",
         "\xC3\xA9Zm\x80\xFF"
         "9v",
         "foo"},
        {"dash stands for slash", "-w==", "\xFF"},
        {"dash and slash mix", "+-+/", "\xFB\xFF\xBF"},
        {"decoding stops at the first =", "Zg==Zm9v", "f"},
        {"= inside a group ends the data", "Zm=9v", "f"},
        {"a text starting with = is empty", "=Zm9v", ""},
        {"a lone character gives nothing", "Z", ""},
        {"a lone last character is dropped", "Zm9vY", "foo"},
        {"two last characters give one byte", "Zm9vYg", "foob"},
        {"three last characters give two bytes", "Zm9vYmE", "fooba"},
        {"only foreign characters", "*** \n", ""},
        {"a foreign character splitting the last group", "Zm9vY\ng", "foob"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decode(c.text), c.bytes);
        EXPECT_EQ(decode_with(internal::decodePlain, c.text), c.bytes);
    }
}

TEST(Mime64, NothingToDecodeGivesNullAndZero) {
    const struct {
        const char* what;
        const char* text;
        int length;
    } cases[] = {
        {"null text", nullptr, 4},
        {"zero length", "Zm9v", 0},
        {"negative length", "Zm9v", -1},
        {"most negative length", "Zm9v", -2147483647 - 1},
    };
    for (DecodeFn fn : {DecodeFn{mime64_new_decode}, DecodeFn{internal::decodePlain}}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            char sentinel = 0;
            char* out = &sentinel;
            unsigned int n = 99;
            fn(c.text, c.length, &out, &n);
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(n, 0u);
        }
    }
}

TEST(Mime64, MissingResultPlaceDecodesNothing) {
    unsigned int n = 99;
    mime64_new_decode("Zm9v", 4, nullptr, &n);
    EXPECT_EQ(n, 0u);
    char sentinel = 0;
    char* out = &sentinel;
    mime64_new_decode("Zm9v", 4, &out, nullptr);
    EXPECT_EQ(out, nullptr);
}

// Every length around the 6- and 8-byte steps of the scalar encoder and the 24- and 48-byte
// steps of the kernels, against OpenSSL and the plain coder, and back.
TEST_P(Mime64Kernel, EncodingMatchesOpenSslAndRoundTripsAtEveryLength) {
    std::mt19937 rng(7);
    for (size_t n = 0; n <= 400; ++n) {
        SCOPED_TRACE(n);
        const std::string bytes = random_bytes(rng, n);
        const std::string text = encode(bytes);
        EXPECT_EQ(text, openssl_encode(bytes));
        EXPECT_EQ(text, encodePlain(bytes));
        EXPECT_EQ(decode(text), bytes);
    }
}

// The fast decoder leaves its kernel blocks and four-character runs at every kind of
// disturbance: each position of a text long enough for several kernel blocks gets a foreign
// character, a line break, a "=", a dash, a high-bit byte, or loses its character.
TEST_P(Mime64Kernel, FastDecoderMatchesPlainAroundEveryDisturbance) {
    std::string base;
    for (int i = 0; i < 4; ++i) base += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlq/+9z";
    const std::string inserts[] = {"\n", " ", "=", "-", "\x80", "==", "*\r\n"};
    auto check = [](const std::string& text) {
        EXPECT_EQ(decode(text), decode_with(internal::decodePlain, text)) << text;
    };
    for (size_t pos = 0; pos <= base.size(); ++pos) {
        for (const auto& insert : inserts) check(base.substr(0, pos) + insert + base.substr(pos));
        if (pos < base.size()) check(base.substr(0, pos) + base.substr(pos + 1));
        check(base.substr(0, pos));
    }
}

TEST_P(Mime64Kernel, FastDecoderMatchesPlainOnRandomText) {
    std::mt19937 rng(11);
    const std::string pool = std::string(new_alphabet) + "-= \n\r*\x80\xFF";
    for (int round = 0; round < 3000; ++round) {
        std::string text(rng() % 300, '\0');
        // Mostly alphabet characters, so that the four-character runs are exercised.
        for (auto& c : text) c = rng() % 8 ? new_alphabet[rng() % 64] : pool[rng() % pool.size()];
        SCOPED_TRACE(text);
        EXPECT_EQ(decode(text), decode_with(internal::decodePlain, text));
    }
}

// Every byte value at the start, inside, at the end and just past each kernel block of an
// otherwise valid text: the kernels must refuse exactly the blocks the scalar decoder would
// not take four characters at a time, and decode "-" like "/".
TEST_P(Mime64Kernel, EveryByteValueInEveryBlockPosition) {
    std::string base(256, 'A');
    for (size_t i = 0; i < base.size(); ++i) base[i] = new_alphabet[(i * 7) % 64];
    for (int b = 0; b < 256; ++b) {
        for (size_t pos : {0, 5, 31, 32, 63, 64, 100, 255}) {
            std::string text = base;
            text[pos] = static_cast<char>(b);
            ASSERT_EQ(decode(text), decode_with(internal::decodePlain, text))
                << "byte " << b << " at " << pos;
        }
    }
}

// The kernels really take the blocks they are meant to take: whole steps of valid input, up
// to the first block with a character outside the alphabet.
TEST_P(Mime64Kernel, KernelCoversWholeBlocksUpToTheFirstDisturbance) {
    const size_t step = GetParam() == Kernel::Avx512Vbmi ? 64 : GetParam() == Kernel::Avx2 ? 32 : 0;
    std::mt19937 rng(5);
    const std::string bytes = random_bytes(rng, 1000);
    std::string text(bytes.size() / 3 * 4, '\0');
    const size_t encoded =
        internal::kernelEncode(GetParam(), reinterpret_cast<const unsigned char*>(bytes.data()),
                               bytes.size(), text.data());
    // Each step reads 4/3 of its output in bytes; the last steps of the wider kernel are left
    // to the narrower one. At most one step of 24 bytes plus 8 bytes of over-read is left.
    if (step == 0) {
        EXPECT_EQ(encoded, 0u);
        return;
    }
    EXPECT_GE(encoded, bytes.size() - 32);
    EXPECT_EQ(encoded % 3, 0u);
    EXPECT_EQ(text.substr(0, encoded / 3 * 4), encode(bytes.substr(0, encoded)));

    const std::string full = encode(bytes);  // 1336 characters
    std::string out(full.size(), '\0');
    auto decoded = [&](const std::string& t) {
        return internal::kernelDecode(GetParam(), t.data(), t.size(),
                                      reinterpret_cast<unsigned char*>(out.data()));
    };
    // Valid to the end: all whole 32-character blocks (the last "=" block is refused).
    EXPECT_GE(decoded(full.substr(0, 1024)), 1024u - 31);
    EXPECT_EQ(out.substr(0, 768), bytes.substr(0, 768));
    // A line break at 200: the blocks before the one that holds it.
    std::string broken = full.substr(0, 1024);
    broken[200] = '\n';
    EXPECT_EQ(decoded(broken), 200 / step * step + (step == 64 && 200 % 64 >= 32 ? 32 : 0));
}

INSTANTIATE_TEST_SUITE_P(AllKernels, Mime64Kernel,
                         testing::Values(Kernel::Scalar, Kernel::Avx2, Kernel::Avx512Vbmi),
                         [](const testing::TestParamInfo<Kernel>& info) {
                             return std::string(internal::kernelName(info.param));
                         });

TEST(Mime64Kernels, DefaultIsTheWidestKernelTheCpuRuns) {
    const Kernel expected = internal::kernelSupported(Kernel::Avx512Vbmi) ? Kernel::Avx512Vbmi
                            : internal::kernelSupported(Kernel::Avx2)     ? Kernel::Avx2
                                                                          : Kernel::Scalar;
    EXPECT_EQ(kDefaultKernel, expected);
    EXPECT_TRUE(internal::kernelSupported(Kernel::Scalar));
    RecordProperty("default_kernel", internal::kernelName(kDefaultKernel));
    // A kernel the CPU cannot run is refused and changes nothing.
    for (Kernel k : {Kernel::Avx2, Kernel::Avx512Vbmi}) {
        if (internal::kernelSupported(k)) continue;
        EXPECT_FALSE(internal::useKernel(k));
        EXPECT_EQ(internal::activeKernel(), kDefaultKernel);
    }
}

}  // namespace
