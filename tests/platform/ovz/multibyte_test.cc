// UTF-8 classification: lengths of valid characters, -1 for what is not a character, 0 for
// a text that ends inside one.
#include <ovz/multibyte.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Multibyte, CharacterLengths) {
    struct Case {
        const char* bytes;
        size_t remaining;  // 0 here means strlen(bytes)
        int length;
    } cases[] = {
        {"a", 0, 1},
        {"\x7f", 0, 1},
        {"\xc2\x80", 0, 2},           // U+0080, smallest two-byte
        {"\xdf\xbf", 0, 2},           // U+07FF
        {"\xe0\xa0\x80", 0, 3},       // U+0800, smallest three-byte
        {"\xed\x9f\xbf", 0, 3},       // U+D7FF, just below the surrogates
        {"\xee\x80\x80", 0, 3},       // U+E000, just above them
        {"\xef\xbf\xbf", 0, 3},       // U+FFFF
        {"\xf0\x90\x80\x80", 0, 4},   // U+10000
        {"\xf4\x8f\xbf\xbf", 0, 4},   // U+10FFFF, the largest
        {"\xc3\xa9rest", 0, 2},       // only the first character counts
        // not characters
        {"\x80", 0, -1},              // continuation byte first
        {"\xbf", 0, -1},
        {"\xc0\x80", 0, -1},          // overlong NUL
        {"\xc1\xbf", 0, -1},          // overlong two-byte
        {"\xe0\x9f\xbf", 0, -1},      // overlong three-byte
        {"\xf0\x8f\xbf\xbf", 0, -1},  // overlong four-byte
        {"\xed\xa0\x80", 0, -1},      // surrogate U+D800
        {"\xed\xbf\xbf", 0, -1},      // surrogate U+DFFF
        {"\xf4\x90\x80\x80", 0, -1},  // above U+10FFFF
        {"\xf5\x80\x80\x80", 0, -1},
        {"\xff", 0, -1},
        {"\xc3" "a", 0, -1},          // bad continuation
        {"\xe2\x82" "a", 0, -1},      // bad third byte
        {"\xf0\x9f\x94" "a", 0, -1},  // bad fourth byte
        // the text ends inside a character
        {"\xc3", 0, 0},
        {"\xe2\x82", 0, 0},
        {"\xf0\x9f\x94", 0, 0},
        {"\xe2\x82\xac", 2, 0},       // remaining cuts a valid character
        {"\xe2\x82\xac", 3, 3},
        {"a", 1, 1},
    };
    const ZCodeSetHandle_6_0* h = zgetUTF8Handle_6_0();
    ASSERT_NE(h, nullptr);
    for (const auto& c : cases) {
        std::string hex;
        for (const char* p = c.bytes; *p; ++p) hex += std::to_string(static_cast<unsigned char>(*p)) + " ";
        SCOPED_TRACE(hex);
        size_t n = c.remaining ? c.remaining : std::strlen(c.bytes);
        EXPECT_EQ(zmblen_6_0(h, c.bytes, n), c.length);
        EXPECT_EQ(zmblen_6_0(nullptr, c.bytes, n), c.length);  // null handle is UTF-8 too
    }
}

TEST(Multibyte, EdgesOfTheInput) {
    const ZCodeSetHandle_6_0* h = zgetUTF8Handle_6_0();
    EXPECT_EQ(zmblen_6_0(h, "abc", 0), 0);      // nothing left: the text has ended
    EXPECT_EQ(zmblen_6_0(h, nullptr, 3), -1);
    const char nul[] = {'\0', 'x'};
    EXPECT_EQ(zmblen_6_0(h, nul, 2), 1);        // NUL is a character like any other
}

TEST(Multibyte, StrchrFindsOneByteCharacters) {
    const ZCodeSetHandle_6_0* h = zgetUTF8Handle_6_0();
    struct Case {
        const char* list;
        int byte;
        bool found;
    } cases[] = {
        {"*()\\", '*', true},  {"*()\\", '\\', true}, {"*()\\", '#', false},
        {"()", '*', false},    {"#", '#', true},      {"", 'a', false},
        {"abc", 0, false},     {"abc", 'a' + 256, false}, {"abc", -1, false},
        {"\xc3\xa9", 0xa9, false},  // a byte inside a multibyte character is no character
        {"x\xc3\xa9y", 'y', true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.list) + " / " + std::to_string(c.byte));
        EXPECT_EQ(zstrchr_6_0(h, c.list, c.byte) != 0, c.found);
    }
    EXPECT_EQ(zstrchr_6_0(h, nullptr, 'a'), 0);
}

}  // namespace
