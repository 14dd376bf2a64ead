// existsValue, deleteValue and deleteValues find a value by the bytes the file holds, in every
// locale: a text that differs in one byte is another value, however the locale would show it.
#include <ovutil/OVStanzaFileProperties.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/eight_bit_locale.h"
#include <ovz/collections.h>
#include <ovz/strings.h>

namespace {

using Values = std::vector<std::string>;

Values valuesOf(OVStanzaFileProperties& props) {
    ZArrayList_6_0 list(4, 1);
    props.getValues("s", "k", list, ZPROPERTY_STRING_UTF8);
    Values out;
    for (unsigned long i = 0; i < list.size(); ++i)
        out.emplace_back(static_cast<ZUTF8String_6_0*>(list.get(i))->c_str());
    return out;
}

const std::string kMueller = "M\xc3\xbcller";      // Müller
const std::string kLatin1Mueller = "M\xfcller";    // Müller in ISO-8859-1
const std::string kNihon = "\xe6\x97\xa5\xe6\x9c\xac";  // 日本

// Runs in the current locale; the values are the same UTF-8 bytes whatever it is.
void expectValuesFoundByTheirOwnBytes() {
    OVStanzaFileProperties props;
    props.addStanza("s");
    for (const std::string& v : {kMueller, std::string("M?ller"), kNihon})
        props.addValue("s", "k", v.c_str(), 0);

    struct Probe {
        std::string text;
        int exists;
    } probes[] = {
        {kMueller, 1}, {"M?ller", 1}, {kNihon, 1}, {kLatin1Mueller, 0}, {"M??ller", 0}, {"??", 0},
    };
    for (const Probe& p : probes) {
        SCOPED_TRACE(p.text);
        EXPECT_EQ(p.exists, props.existsValue("s", "k", p.text.c_str()));
    }

    // Only the value with these very bytes goes; the others stay.
    props.deleteValue("s", "k", kLatin1Mueller.c_str());
    props.deleteValue("s", "k", "??");
    EXPECT_EQ((Values{kMueller, "M?ller", kNihon}), valuesOf(props));
    props.deleteValue("s", "k", "M?ller");
    EXPECT_EQ((Values{kMueller, kNihon}), valuesOf(props));

    ZArrayList_6_0 gone(2, 1);
    gone.add(ZUTF8String_6_0(kNihon.c_str()));
    gone.add(ZUTF8String_6_0(kMueller.c_str()));
    props.deleteValues("s", "k", gone);
    EXPECT_EQ(0, props.exists("s", "k"));
}

TEST(OVStanzaFilePropertiesBytes, CAndPosixLocales) {
    for (const char* locale : {"C", "POSIX"}) {
        SCOPED_TRACE(locale);
        ovtest::CTypeScope scope(locale);
        ASSERT_TRUE(scope.ok());
        expectValuesFoundByTheirOwnBytes();
    }
}

TEST(OVStanzaFilePropertiesBytes, EightBitLocale) {
    const ovtest::EightBitLocale& latin1 = ovtest::eightBitLocale();
    if (latin1.unavailable()) GTEST_SKIP() << latin1.why;
    ASSERT_TRUE(latin1.ready()) << latin1.why;
    ovtest::CTypeScope scope(latin1);
    ASSERT_TRUE(scope.ok());
    expectValuesFoundByTheirOwnBytes();
}

}  // namespace
