// The value encoder: exact encodings worked out by hand, lengths, the marker rules, round
// trips of every byte value, the byte 254, and what util_decode does with damaged values.

#include <ovutil/encode.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string encode(const std::string& value) {
    char* text = util_encode(value.c_str());
    EXPECT_NE(text, nullptr);
    std::string s = text ? text : "";
    std::free(text);
    return s;
}

std::string decode(const std::string& value) {
    char* text = util_decode(value.c_str());
    EXPECT_NE(text, nullptr);
    std::string s = text ? text : "";
    std::free(text);
    return s;
}

// Decodes with standard output captured; returns the result and what was printed.
std::pair<std::string, std::string> decodePrinting(const std::string& value) {
    testing::internal::CaptureStdout();
    std::string result = decode(value);
    return {result, testing::internal::GetCapturedStdout()};
}

// The group of byte b: k = r(7 - r) + 1 fillers behind the data byte, r = b mod 7.
std::size_t groupLength(unsigned char b) {
    const int r = b % 7;
    return static_cast<std::size_t>(r * (7 - r) + 1) + 1;
}

TEST(ValueEncoder, FillerTable) {
    ASSERT_NE(symb, nullptr);
    EXPECT_STREQ(symb, "~^+=?|;");
}

TEST(ValueEncoder, EncodesWorkedExamples) {
    const struct {
        std::string value, encoded;
    } cases[] = {
        {"", "~^+"},
        {"#", "~^+#~"},                                  // 35 = 5 * 7: r 0, one filler
        {"pw", "~^+p~w~"},                               // 112 and 119: multiples of 7
        {"A", "~^+C" + std::string(11, '+')},            // 65: r 2, data 67, 11 fillers
        {"a", "~^+g" + std::string(7, ';')},             // 97: r 6, data 103, 7 fillers
        {"&", "~^+)" + std::string(13, '=')},            // 38: r 3, data 41, 13 fillers
        {"(", "~^+-" + std::string(11, '|')},            // 40: r 5, data 45, 11 fillers
        {"\xFF", "~^+\x02" + std::string(13, '=')},      // 255: r 3, data 258 mod 256
        {"\xFB", "~^+\x01" + std::string(7, ';')},       // 251: r 6, data 257 mod 256
        {"\x01", "~^+\x02" + std::string(7, '^')},       // 1: r 1, 7 fillers
        {"\x05", "~^+\x0A" + std::string(11, '|')},      // 5: r 5, 11 fillers
        {"\x04", "~^+\x08" + std::string(13, '?')},      // 4: r 4, 13 fillers
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        EXPECT_EQ(encode(c.value), c.encoded);
        EXPECT_EQ(decode(c.encoded), c.value);
    }
}

TEST(ValueEncoder, EveryByteValueButOneHasItsGroupAndComesBack) {
    std::string all;
    for (int b = 1; b < 256; ++b) {
        if (b == 254) continue;
        const std::string one(1, static_cast<char>(b));
        SCOPED_TRACE(b);
        const int r = b % 7;
        const std::string group = std::string(1, static_cast<char>((b + r) % 256)) +
                                  std::string(static_cast<std::size_t>(r * (7 - r) + 1), "~^+=?|;"[r]);
        EXPECT_EQ(encode(one), "~^+" + group);
        EXPECT_EQ(decode(encode(one)), one);
        all += one;
    }
    const std::string encoded = encode(all);
    std::size_t length = 3;
    for (unsigned char b : all) length += groupLength(b);
    EXPECT_EQ(encoded.size(), length);
    EXPECT_EQ(decode(encoded), all);
}

TEST(ValueEncoder, MarkerRules) {
    // A marked value is not encoded twice; a value without the marker is not decoded.
    const std::string encoded = encode("secret");
    EXPECT_EQ(encode(encoded), encoded);
    for (const std::string plain : {"", "~", "~^", "^+x", "secret", "~^-x"})
        EXPECT_EQ(decode(plain), plain) << plain;
    EXPECT_EQ(decode("~^+"), "");
    // The copies are new texts.
    const char value[] = "~^+#~";
    char* again = util_encode(value);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, value);
    EXPECT_STREQ(again, value);
    std::free(again);
    EXPECT_EQ(util_encode(nullptr), nullptr);
    EXPECT_EQ(util_decode(nullptr), nullptr);
}

// The byte 254 would become the data byte 0 and end the encoded text; such a value is kept
// as a plain copy, which decodes to itself.
TEST(ValueEncoder, ValueWithByte254StaysPlainAndWhole) {
    for (const std::string value : {"\xFE", "ab\xFE", "\xFE" "cd", "p\xFEw\xFF\xFB"}) {
        SCOPED_TRACE(testing::PrintToString(value));
        EXPECT_EQ(encode(value), value);
        EXPECT_EQ(decode(encode(value)), value);
    }
    // Its neighbours encode as usual.
    EXPECT_EQ(decode(encode("\xFD\xFF")), "\xFD\xFF");
    EXPECT_NE(encode("\xFD\xFF"), "\xFD\xFF");
}

TEST(ValueEncoder, DamagedValues) {
    const std::string aa = encode("Aa");  // "~^+C" 11 x "+" "g" 7 x ";"
    ASSERT_EQ(aa.size(), 3u + 12 + 8);
    const struct {
        std::string value;
        std::string result;
        bool message;
    } cases[] = {
        {aa, "Aa", false},
        {aa.substr(0, aa.size() - 6), "Aa", false},  // last group cut after a filler
        {aa.substr(0, 5), "A", false},               // first group cut after one filler
        {aa.substr(0, 15), "A", false},              // exactly one group
        {aa.substr(0, 16), aa.substr(0, 16), true},  // a data byte with nothing behind it
        {"~^+Cx", "~^+Cx", true},                    // not a filler character
        {"~^+#~C", "~^+#~C", true},
        {"~^+C+~~~~~~~~~~", "A", false},  // only the first filler of a group is read
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        const auto [result, printed] = decodePrinting(c.value);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(printed, c.message ? "can't decode:" + c.value + "\n" : "");
    }
}

}  // namespace
