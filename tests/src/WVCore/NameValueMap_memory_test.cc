// The memory a map's values live in: a removed value, or one of a decoded list's packed
// strings, must be reported when it is used afterwards (AddressSanitizer builds).
#include <gtest/gtest.h>

#include <ovutil/NameValueMap.h>

#if defined(__SANITIZE_ADDRESS__)
#define NVM_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NVM_TEST_ASAN 1
#endif
#endif

namespace {

TEST(NameValueMapMemory, UseOfARemovedValueIsReportedUnderAddressSanitizer) {
#ifndef NVM_TEST_ASAN
    GTEST_SKIP() << "only an AddressSanitizer build can observe a use after free";
#else
    EXPECT_DEATH(
        {
            NameValueMap map;
            map.addString("n", "a value that is removed");
            const char* text = map.getString("n", 0)->getChars();
            map.removeValue("n", 0);
            volatile char c = text[0];
            (void)c;
        },
        "heap-use-after-free");
#endif
}

// Decoded values may share one allocation with their list; a removed one must still be
// reported when it is used afterwards.
TEST(NameValueMapMemory, UseOfARemovedDecodedValueIsReportedUnderAddressSanitizer) {
#ifndef NVM_TEST_ASAN
    GTEST_SKIP() << "only an AddressSanitizer build can observe a use after removal";
#else
    NameValueMap source;
    source.addString("n", "a value that is removed");
    source.addString("n", "a value that stays");
    ov_asn_buffer_t wire = {0, nullptr};
    unsigned long status = 1;
    source.encode(wire, status);
    ASSERT_EQ(status, 0u);
    EXPECT_DEATH(
        {
            NameValueMap map;
            unsigned long decoded = 1;
            map.decode(wire, decoded);
            const char* text = map.getString("n", 0)->getChars();
            map.removeValue("n", 0);
            volatile char c = text[0];
            (void)c;
        },
        "use-after-poison|heap-use-after-free");
    // Decoded keys live in storage of the map's own: a read of one after the map was emptied
    // is reported too.
    EXPECT_DEATH(
        {
            NameValueMap map;
            unsigned long decoded = 1;
            map.decode(wire, decoded);
            ZArrayList_6_0 names(2, 0);
            map.getNames(names);
            const auto* key = static_cast<const ZUTF8String_6_0*>(names.get(0));
            ASSERT_STREQ(key->getChars(), "n");
            map.removeAll();
            volatile std::size_t n = key->length();
            (void)n;
        },
        "use-after-poison|heap-use-after-free");
    ov_asn_buffer_free(wire);
#endif
}

}  // namespace
