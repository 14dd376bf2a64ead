// Multibyte checks and pattern quoting: which characters each check refuses and each quoting
// operation quotes, multibyte characters passing untouched, invalid and cut characters, the
// debug lines of the allow-list check, and the library held to the plain reference walk.

#include <ovutil/wvwchar.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <random>
#include <string>

#include <ovsvc/capture.hpp>
#include <ovsvc/svc.h>
#include <ovz/exceptions.h>

#include "src/util/wvwchar_reference.h"

namespace {

// Two-, three- and four-byte characters: e-acute, a CJK ideograph, an emoji.
const char kTwo[] = "\xC3\xA9";
const char kThree[] = "\xE6\x97\xA5";
const char kFour[] = "\xF0\x9F\x98\x80";

std::optional<std::string> taken(char* text) {
    if (text == nullptr) return std::nullopt;
    std::string s(text);
    std::free(text);
    return s;
}

TEST(TextChecks, WhatEachCheckRefuses) {
    // The list-taking checks get "?#" here; utf8_validchars is given the same list.
    const struct {
        const char* text;
        int pattern, name, chars2, pchars2, utf8;
    } cases[] = {
        {"", 1, 1, 1, 1, 0},  // the empty text: only utf8_validchars refuses it
        {"alice smith", 1, 1, 1, 1, 1},
        {"a*b", 1, 0, 1, 1, 1},  // the wildcard: a pattern may hold it, a name may not
        {"a?b", 0, 0, 0, 0, 0},
        {"a(b", 0, 0, 1, 1, 1},
        {"a)b", 0, 0, 1, 1, 1},
        {"a:b", 0, 0, 1, 1, 1},
        {"a\\b", 0, 0, 1, 1, 1},
        {"a#b", 1, 1, 0, 0, 0},
        {"a\tb", 0, 0, 1, 0, 0},  // control bytes: refused unless nocontrol is 0
        {"\x01", 0, 0, 1, 0, 0},
        {"end\x1F", 0, 0, 1, 0, 0},
        {"\x7F", 1, 1, 1, 1, 1},  // DEL is not below 0x20
        {"caf\xC3\xA9", 1, 1, 1, 1, 1},
        {"\xE6\x97\xA5*", 1, 0, 1, 1, 1},
        {"\xF0\x9F\x98\x80(", 0, 0, 1, 1, 1},
        // A byte that starts no character is acceptable without a look-up.
        {"\xFF", 1, 1, 1, 1, 1},
        {"\x80"
         "abc",
         1, 1, 1, 1, 1},
        {"\xC3(", 0, 0, 1, 1, 1},  // C3 starts no character before "(", which is refused
        {"\xFF?", 0, 0, 0, 0, 0},
        // A text that ends inside a character is refused by the walking checks only.
        {"ab\xE6\x97", 0, 0, 0, 0, 1},
        {"\xF0\x9F\x98", 0, 0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        EXPECT_EQ(wv_mbs_validpatchars(c.text), c.pattern);
        EXPECT_EQ(wv_mbs_validpchars(c.text), c.name);
        EXPECT_EQ(wv_mbs_validchars2(c.text, "?#"), c.chars2);
        EXPECT_EQ(wv_mbs_validpchars2(c.text, "?#"), c.pchars2);
        EXPECT_EQ(utf8_validchars(c.text, "?#"), c.utf8);
        EXPECT_EQ(wv_mbs_validchars_int(c.text, "?():\\", 1), c.pattern);
        EXPECT_EQ(wv_mbs_validchars_int(c.text, "*?():\\", 1), c.name);
    }
}

TEST(TextChecks, OnlyOneByteCharactersOfAListCount) {
    // A list holding a multibyte character rejects or quotes nothing of it, and neither the
    // list's bytes nor the text's are taken one by one.
    EXPECT_EQ(wv_mbs_validchars2(kTwo, kTwo), 1);
    EXPECT_EQ(wv_mbs_validpchars2(kThree, kThree), 1);
    EXPECT_EQ(wv_mbs_checkchars2(kFour, ""), 1);
    EXPECT_EQ(taken(wv_mbs_patquote2(kTwo, kTwo)), kTwo);
    // "(" inside the list's multibyte mess still counts as a character of the list.
    EXPECT_EQ(wv_mbs_validchars2("x(", "\xC3\xA9("), 0);
    EXPECT_EQ(taken(wv_mbs_patquote2("x(", "\xE6\x97\xA5(")), "x\\28");
}

TEST(TextChecks, LongListsAreReadWhole) {
    // Lists as long as their texts, with the byte that decides at either end of either.
    std::string filler;
    for (int i = 0; i < 4000; ++i) filler += static_cast<char>('A' + i % 26);
    const std::string lower = "abcdefghijklmnopqrstuvwxyz";
    const struct {
        const char* label;
        std::string text;
        std::string list;
        int utf8;    // utf8_validchars(text, list as the reject list)
        int check2;  // wv_mbs_checkchars2(text, list as the allowed list)
    } cases[] = {
        {"no byte of the text listed", lower + lower, filler, 1, 0},
        {"the text's last byte ends the list", filler.substr(0, 100) + "z", filler + "z", 0, 1},
        {"the list's first byte ends the text", std::string(3000, 'q') + "A", filler, 0, 0},
        {"all bytes listed, the last only at the end", filler + "~", filler + "~", 0, 1},
        {"one byte of the text missing from the list", filler + "~", lower, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(utf8_validchars(c.text.c_str(), c.list.c_str()), c.utf8);
        EXPECT_EQ(wv_mbs_checkchars2(c.text.c_str(), c.list.c_str()), c.check2);
    }
}

TEST(TextChecks, NullArgumentsAreRefusedNotFollowed) {
    EXPECT_EQ(wv_mbs_validchars_int(nullptr, "?", 1), 0);
    EXPECT_EQ(wv_mbs_validpatchars(nullptr), 0);
    EXPECT_EQ(wv_mbs_validpchars(nullptr), 0);
    EXPECT_EQ(wv_mbs_checkchars2(nullptr, "a"), 0);
    EXPECT_EQ(utf8_validchars(nullptr, "a"), 0);
    EXPECT_EQ(wv_mb_strchr(nullptr, 'a'), nullptr);
    EXPECT_EQ(wv_mbs_patquote2(nullptr, "("), nullptr);
    // A NULL list rejects, quotes and allows nothing.
    EXPECT_EQ(wv_mbs_validchars2("a?(", nullptr), 1);
    EXPECT_EQ(wv_mbs_validpchars2("a\t", nullptr), 0);
    EXPECT_EQ(utf8_validchars("a?(", nullptr), 1);
    EXPECT_EQ(utf8_validchars("a?(", ""), 1);
    EXPECT_EQ(wv_mbs_checkchars2("", nullptr), 1);
    EXPECT_EQ(wv_mbs_checkchars2("a", nullptr), 0);
    EXPECT_EQ(taken(wv_mbs_patquote2("a(\\", nullptr)), "a(\\");
}

TEST(TextChecks, Utf8ValidcharsRefusesAListWithHighBytes) {
    ovsvc::CaptureSink capture;
    ov_svc_set_debug_level(ov_ras_svc_handle, 3, 9);
    try {
        utf8_validchars("abc", "?\xC3\xA9");
        ADD_FAILURE() << "no exception";
    } catch (ZInvalidParameterException_6_0& e) {
        EXPECT_STREQ(e.sourceFile(), "src/util/wvwchar");
        EXPECT_GT(e.sourceLine(), 0);
    }
    ov_svc_set_debug_level(ov_ras_svc_handle, 3, 0);
    const auto lines = capture.debugRecords();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].handle, ov_ras_svc_handle);
    EXPECT_EQ(lines[0].subcomp, 3u);
    EXPECT_EQ(lines[0].level, 9u);
    EXPECT_EQ(lines[0].file, "src/util/wvwchar");
    EXPECT_EQ(lines[0].format, "%s Exception thrown. \n");
    ASSERT_EQ(lines[0].inserts.size(), 1u);
    EXPECT_EQ(lines[0].inserts[0], "ZInvalidParameterException");

    // Below level 9 the exception is thrown without a line.
    capture.clear();
    EXPECT_THROW(utf8_validchars("abc", "\x80"), ZInvalidParameterException_6_0);
    EXPECT_TRUE(capture.debugRecords().empty());
    // The list is read in order: a text already refused, or refused for a control byte,
    // never reaches the bad byte.
    EXPECT_EQ(utf8_validchars("a?c", "?\xC3\xA9"), 0);
    EXPECT_EQ(utf8_validchars("a\tc", "\xC3\xA9"), 0);
    EXPECT_EQ(utf8_validchars("", "\xC3\xA9"), 0);
}

TEST(TextChecks, CheckChars2ExplainsWhatItFinds) {
    ovsvc::CaptureSink capture;
    const struct {
        const char* text;
        const char* allowed;
        int result;
        const char* format;  // the debug line, or null for none
        const char* insert;
    } cases[] = {
        {"", "", 1, nullptr, nullptr},
        {"abc", "abc", 1, nullptr, nullptr},
        {"ab-c", "abc", 0, "invalid single byte character: %s", "-c"},
        {"a\tb", "ab", 0, "invalid single byte character: %s", "\tb"},
        {"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", "", 1, nullptr, nullptr},
        {"a\xFF"
         "b",
         "ab", 1, "invalid multibyte hibit-set: %s",
         "\xFF"
         "b"},
        {"ab\xE6\x97", "ab", 0, "premature end of string", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        // Quiet at level 0.
        capture.clear();
        EXPECT_EQ(wv_mbs_checkchars2(c.text, c.allowed), c.result);
        EXPECT_TRUE(capture.debugRecords().empty());

        ov_svc_set_debug_level(wvcore_svc_handle, 0, 1);
        EXPECT_EQ(wv_mbs_checkchars2(c.text, c.allowed), c.result);
        ov_svc_set_debug_level(wvcore_svc_handle, 0, 0);
        const auto lines = capture.debugRecords();
        if (c.format == nullptr) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].handle, wvcore_svc_handle);
        EXPECT_EQ(lines[0].subcomp, 0u);
        EXPECT_EQ(lines[0].level, 1u);
        EXPECT_TRUE(lines[0].utf8);
        EXPECT_EQ(lines[0].file, "src/util/wvwchar");
        EXPECT_EQ(lines[0].format, c.format);
        if (c.insert) {
            ASSERT_EQ(lines[0].inserts.size(), 1u);
            EXPECT_EQ(lines[0].inserts[0], c.insert);
        }
    }
    // Each invalid byte gets its own line, and the walk goes on past them.
    ov_svc_set_debug_level(wvcore_svc_handle, 0, 1);
    capture.clear();
    EXPECT_EQ(wv_mbs_checkchars2("\xFF\xFE"
                                 "a",
                                 "a"),
              1);
    ov_svc_set_debug_level(wvcore_svc_handle, 0, 0);
    EXPECT_EQ(capture.debugRecords().size(), 2u);
}

TEST(TextChecks, StrchrFindsOnlyOneByteCharacters) {
    const std::string mixed = std::string("a") + kTwo + "(" + kThree + "\xA9" + kFour + "(";
    const struct {
        std::string text;
        int c;
        long at;  // offset of the match, -1 for NULL
    } cases[] = {
        {mixed, 'a', 0},
        {mixed, '(', 3},
        {mixed, 0xA9, 7},   // 0xA9 inside e-acute is skipped; the stray one is found
        {mixed, 0x9F, -1},  // only inside the emoji
        {mixed, 0xE6, -1},  // the lead byte of a character is no character either
        {mixed, 'z', -1},
        {mixed, 0, -1},
        {mixed, 'a' + 256, -1},
        {mixed, -1, -1},
        {"", 'a', -1},
        {"ab\xE6\x97", 'z', -1},  // the search ends in the cut character
        {"ab\xE6\x97", 0x97, -1},
        {"ab\xE6\x97", 'b', 1},  // found before it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text) + " " + std::to_string(c.c));
        const char* found = wv_mb_strchr(c.text.c_str(), c.c);
        if (c.at < 0)
            EXPECT_EQ(found, nullptr);
        else
            EXPECT_EQ(found, c.text.c_str() + c.at);
    }
}

TEST(TextQuoting, WhatEachOperationQuotesAndHow) {
    const struct {
        const char* text;
        std::optional<std::string> pattern, literal;  // wv_mbs_patquote, wv_mbs_nopatquote
    } cases[] = {
        {"", "", ""},
        {"alice", "alice", "alice"},
        {"*", "*", "\\2a"},
        {"(", "\\28", "\\28"},
        {")", "\\29", "\\29"},
        {"\\", "\\5c", "\\5c"},
        {"cn=a*(b)\\", "cn=a*\\28b\\29\\5c", "cn=a\\2a\\28b\\29\\5c"},
        {"?:#&|!=~<>", "?:#&|!=~<>", "?:#&|!=~<>"},  // filter operators are not quoted
        {"\x01\t", "\x01\t", "\x01\t"},
        // Multibyte characters of two, three and four bytes pass untouched.
        {"\xC3\xA9(\xE6\x97\xA5)\xF0\x9F\x98\x80*", "\xC3\xA9\\28\xE6\x97\xA5\\29\xF0\x9F\x98\x80*",
         "\xC3\xA9\\28\xE6\x97\xA5\\29\xF0\x9F\x98\x80\\2a"},
        // Invalid and cut characters: no result.
        {"a\xFF", std::nullopt, std::nullopt},
        {"\x80(", std::nullopt, std::nullopt},
        {"\xC0\xAF", std::nullopt, std::nullopt},      // an overlong "/"
        {"\xED\xA0\x80", std::nullopt, std::nullopt},  // a surrogate
        {"(ab\xE6\x97", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        EXPECT_EQ(taken(wv_mbs_patquote(c.text)), c.pattern);
        EXPECT_EQ(taken(wv_mbs_nopatquote(c.text)), c.literal);
        EXPECT_EQ(taken(wv_mbs_patquote2(c.text, "()\\")), c.pattern);
        EXPECT_EQ(taken(wv_mbs_patquote2(c.text, "*()\\")), c.literal);
    }
    // Every listed byte as two lower-case digits.
    EXPECT_EQ(taken(wv_mbs_patquote2("\x1F\x7F:", "\x1F\x7F:")), "\\1f\\7f\\3a");
}

// The library against the reference walk over random texts drawn from ASCII specials,
// control bytes, valid multibyte characters and their pieces.
TEST(TextAgainstReference, RandomTexts) {
    const std::string pieces[] = {"a",
                                  "Z",
                                  " ",
                                  "*",
                                  "?",
                                  "(",
                                  ")",
                                  ":",
                                  "\\",
                                  "#",
                                  "\t",
                                  "\x01",
                                  "\x7F",
                                  kTwo,
                                  kThree,
                                  kFour,
                                  "\xC3",
                                  "\xE6\x97",
                                  "\xF0\x9F\x98",
                                  "\x80",
                                  "\xFF",
                                  "\xC0\xAF",
                                  "\xED\xA0\x80"};
    const char* lists[] = {"", "?():\\", "*?():\\", "()\\", "*()\\", "#", "\t", "\xC3\xA9(", "a"};
    std::mt19937 rng(12);
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        const int count = static_cast<int>(rng() % 12);
        for (int i = 0; i < count; ++i) text += pieces[rng() % std::size(pieces)];
        SCOPED_TRACE(testing::PrintToString(text));
        for (const char* list : lists) {
            SCOPED_TRACE(testing::PrintToString(std::string(list)));
            for (int nocontrol = 0; nocontrol < 2; ++nocontrol)
                ASSERT_EQ(wv_mbs_validchars_int(text.c_str(), list, nocontrol),
                          textref::validchars_int(text.c_str(), list, nocontrol));
            ASSERT_EQ(wv_mbs_checkchars2(text.c_str(), list),
                      textref::checkchars2(text.c_str(), list));
            ASSERT_EQ(taken(wv_mbs_patquote2(text.c_str(), list)), textref::quote(text, list));
        }
        ASSERT_EQ(wv_mbs_validpatchars(text.c_str()),
                  textref::validchars_int(text.c_str(), textref::kPatReject, 1));
        ASSERT_EQ(wv_mbs_validpchars(text.c_str()),
                  textref::validchars_int(text.c_str(), textref::kReject, 1));
        for (int c : {int{'a'}, int{'('}, int{'*'}, 0x80, 0xA9, 0xC3, 0xFF})
            ASSERT_EQ(wv_mb_strchr(text.c_str(), c), textref::mb_strchr(text.c_str(), c)) << c;
    }
}

}  // namespace
