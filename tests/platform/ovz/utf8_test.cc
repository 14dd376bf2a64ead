// The UTF-8 coder of the object library (platform/ovz/src/utf8.h), against the definition of
// UTF-8: a byte string is one valid character exactly when it is the shortest encoding of a
// scalar value.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "utf8.h"

namespace {

std::string Bytes(std::initializer_list<unsigned> bytes) {
    std::string out;
    for (unsigned b : bytes) out += static_cast<char>(b);
    return out;
}

const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

int ExpectedLength(std::uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

// The reference: read the bits the lead byte announces, ignoring every rule, then say whether
// the bytes are exactly what the encoder writes for that value.
bool ReferenceValid(const std::string& s) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    const int n = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || static_cast<size_t>(n) != s.size()) return false;
    std::uint32_t cp = n == 1 ? b0 : b0 & (0x7Fu >> n);
    for (int i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return false;
        cp = cp << 6 | (b & 0x3F);
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    std::string shortest;
    ovz_utf8::append(shortest, cp);
    return shortest == s;
}

TEST(Utf8, EncodesTheBoundariesOfEachLength) {
    const struct {
        std::uint32_t cp;
        std::string bytes;
    } cases[] = {
        {0x7F, Bytes({0x7F})},
        {0x80, Bytes({0xC2, 0x80})},
        {0x7FF, Bytes({0xDF, 0xBF})},
        {0x800, Bytes({0xE0, 0xA0, 0x80})},
        {0xD7FF, Bytes({0xED, 0x9F, 0xBF})},
        {0xE000, Bytes({0xEE, 0x80, 0x80})},
        {0xFFFF, Bytes({0xEF, 0xBF, 0xBF})},
        {0x10000, Bytes({0xF0, 0x90, 0x80, 0x80})},
        {0x10FFFF, Bytes({0xF4, 0x8F, 0xBF, 0xBF})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cp);
        std::string out;
        ovz_utf8::append(out, c.cp);
        EXPECT_EQ(out, c.bytes);
    }
}

TEST(Utf8, EveryScalarValueRoundTrips) {
    for (std::uint32_t cp = 1; cp <= 0x10FFFF; ++cp) {
        if (cp == 0xD800) cp = 0xE000;
        std::string out;
        ovz_utf8::append(out, cp);
        const int len = ovz_utf8::sequenceLength(U(out), out.size());
        ASSERT_EQ(len, ExpectedLength(cp)) << std::hex << cp;
        ASSERT_EQ(ovz_utf8::decode(U(out), len), cp) << std::hex << cp;
        ASSERT_TRUE(ovz_utf8::isScalar(cp));
        // One byte short is a character still coming, not an invalid one.
        if (len > 1) {
            ASSERT_EQ(ovz_utf8::sequenceLength(U(out), out.size() - 1), 0) << std::hex << cp;
        }
    }
    EXPECT_FALSE(ovz_utf8::isScalar(0));
    EXPECT_FALSE(ovz_utf8::isScalar(0xD800));
    EXPECT_FALSE(ovz_utf8::isScalar(0xDFFF));
    EXPECT_FALSE(ovz_utf8::isScalar(0x110000));
}

// Every string of one or two bytes, every three-byte string with a lead byte of a longer
// character, and the four-byte strings over those lead bytes and every second byte with the
// edges of the continuation range after them: overlong forms, surrogates, values above
// U+10FFFF and stray continuation bytes are all refused.
TEST(Utf8, AcceptsExactlyTheShortestFormsOfScalarValues) {
    auto check = [](const std::string& s) {
        const bool oneCharacter =
            ovz_utf8::sequenceLength(U(s), s.size()) == static_cast<int>(s.size());
        ASSERT_EQ(oneCharacter, ReferenceValid(s)) << testing::PrintToString(s);
    };
    for (unsigned a = 0; a < 256; ++a) {
        check(Bytes({a}));
        for (unsigned b = 0; b < 256; ++b) {
            check(Bytes({a, b}));
            if (a < 0xE0) continue;  // no longer character can start with this byte
            for (unsigned c = 0; c < 256; ++c) check(Bytes({a, b, c}));
            for (unsigned c : {0x7Fu, 0x80u, 0xBFu, 0xC0u})
                for (unsigned d : {0x7Fu, 0x80u, 0xBFu, 0xC0u}) check(Bytes({a, b, c, d}));
        }
    }
}

TEST(Utf8, ValidatesWholeTexts) {
    EXPECT_TRUE(ovz_utf8::isValid(""));
    EXPECT_TRUE(ovz_utf8::isValid("M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(ovz_utf8::isValid("ends inside \xE2\x82"));
    EXPECT_FALSE(ovz_utf8::isValid("overlong slash \xC0\xAF"));
    EXPECT_FALSE(ovz_utf8::isValid(std::string_view("\x00\xC0\x80", 3)));
    EXPECT_TRUE(ovz_utf8::isValid(std::string_view("a\x00" "b", 3)));  // NUL is a character
}

}  // namespace
