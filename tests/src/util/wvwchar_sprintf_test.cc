// The quoting printf: each conversion, format errors, invalid arguments, and results that
// cross the sizes where the buffer grows.

#include <ovutil/wvwchar.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "src/util/wvwchar_reference.h"

namespace {

std::optional<std::string> taken(char* text) {
    if (text == nullptr) return std::nullopt;
    std::string s(text);
    std::free(text);
    return s;
}

TEST(TextSprintf, EachConversionQuotesItsList) {
    const char arg[] = "a*b(c)d\\e#f";
    const struct {
        const char* format;
        const char* expect;
    } cases[] = {
        {"%s", "a*b(c)d\\e#f"},
        {"%Q", "a\\2ab\\28c\\29d\\5ce#f"},
        {"%P", "a*b\\28c\\29d\\5ce#f"},
        {"%M", "a\\2ab\\28c\\29d\\e#f"},
        {"%L", "a*b\\28c\\29d\\e#f"},
        {"%A", "a*b(c)d\\e\\#f"},
        {"[%Q]", "[a\\2ab\\28c\\29d\\5ce#f]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(taken(wv_mbs_sprintf(c.format, arg)), c.expect);
    }
}

TEST(TextSprintf, FiltersWithSeveralArguments) {
    EXPECT_EQ(taken(wv_mbs_sprintf("(&(objectclass=%s)(cn=%Q))", "person", "J*n (admin)")),
              "(&(objectclass=person)(cn=J\\2an \\28admin\\29))");
    EXPECT_EQ(taken(wv_mbs_sprintf("(cn=%P)", "Jo*")), "(cn=Jo*)");
    EXPECT_EQ(taken(wv_mbs_sprintf("%A,%s", "cn=#1", "o=x")), "cn=\\#1,o=x");
    // Multibyte arguments pass untouched; format bytes are copied whatever they are.
    EXPECT_EQ(taken(wv_mbs_sprintf("(sn=%Q)\xFF", "M\xC3\xBCller(\xE6\x97\xA5\xF0\x9F\x98\x80)")),
              "(sn=M\xC3\xBCller\\28\xE6\x97\xA5\xF0\x9F\x98\x80\\29)\xFF");
    EXPECT_EQ(taken(wv_mbs_sprintf("")), "");
    EXPECT_EQ(taken(wv_mbs_sprintf("no conversions")), "no conversions");
    EXPECT_EQ(taken(wv_mbs_sprintf("%s%Q", "", "")), "");
}

TEST(TextSprintf, FailuresGiveNull) {
    const char* const bad_formats[] = {"%d", "%%", "abc%", "%q", "%S", "(cn=%s)%", "% s"};
    for (const char* format : bad_formats) {
        SCOPED_TRACE(format);
        EXPECT_EQ(wv_mbs_sprintf(format, "x", "y"), nullptr);
    }
    EXPECT_EQ(wv_mbs_sprintf(nullptr), nullptr);
    // A NULL argument, under any conversion.
    for (const char* format : {"%s", "%Q", "%P", "%M", "%L", "%A", "a%sb%s"}) {
        SCOPED_TRACE(format);
        EXPECT_EQ(wv_mbs_sprintf(format, static_cast<const char*>(nullptr), "y"), nullptr);
    }
    // Invalid or cut characters: copied by %s, fatal to every quoting conversion.
    for (const char* arg : {"a\xFF", "\x80", "ab\xE6\x97", "\xF0\x9F\x98"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(arg)));
        EXPECT_EQ(taken(wv_mbs_sprintf("<%s>", arg)), "<" + std::string(arg) + ">");
        for (const char* format : {"%Q", "%P", "%M", "%L", "%A", "%s%Q"})
            EXPECT_EQ(wv_mbs_sprintf(format, arg, arg), nullptr) << format;
    }
}

// Results that end just below, at and above the sizes where the buffer grows (127 bytes,
// then each limit reached), built from plain format bytes, %s, and quoting arguments whose
// worst case does or does not fit the room left.
TEST(TextSprintf, GrowthAroundTheLimits) {
    for (std::size_t plain : {0u, 1u, 126u, 127u, 128u, 129u, 200u, 255u, 256u, 257u, 1000u}) {
        for (std::size_t argLength : {0u, 1u, 42u, 43u, 127u, 128u, 300u, 5000u}) {
            SCOPED_TRACE(std::to_string(plain) + " format bytes, argument of " + std::to_string(argLength));
            std::string format(plain, 'f');
            std::string arg;
            for (std::size_t i = 0; i < argLength; ++i) arg += "x(\xC3\xA9*"[i % 5];
            // Keep the argument free of cut characters.
            if (!arg.empty() && static_cast<unsigned char>(arg.back()) == 0xC3) arg.pop_back();
            for (const std::string& f : {format + "%s" + format, format + "%Q" + format,
                                         "%A" + format + "%P", format + "%s%M%L"}) {
                const auto got = taken(wv_mbs_sprintf(f.c_str(), arg.c_str(), arg.c_str(),
                                                      arg.c_str()));
                ASSERT_EQ(got, textref::sprintf_of(f, {arg, arg, arg})) << f.substr(0, 8);
            }
        }
    }
}

}  // namespace
