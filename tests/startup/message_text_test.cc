// Message texts by number: the catalogs through NLSPATH, the per-process caches, and the
// text of a number no catalog knows.

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ovmsg/msg.h>
#include <ovutil/I18NCache.h>
#include <ovutil/wvmsg.h>

namespace {

// The process's catalogs: the tests' own first, then the library's.
class MessageTextTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string path = std::string(OV_STARTUP_TEST_NLS) + "/%L/%N.cat:" + OV_NLS_MSG_DIR +
                           "/%L/%N.cat";
        setenv("NLSPATH", path.c_str(), 1);
    }
};

TEST_F(MessageTextTest, TextsComeFromTheCatalogsAndAreCachedPerCodeSet) {
    const char* first = wv_i18n_msg(0x7E57A001);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "First text of the test catalog.");
    EXPECT_EQ(wv_i18n_msg(0x7E57A001), first);

    const char* utf8 = wv_i18n_msg_utf8(0x7E57A003);
    const char* local = wv_i18n_msg(0x7E57A003);
    ASSERT_NE(utf8, nullptr);
    ASSERT_NE(local, nullptr);
    EXPECT_STREQ(utf8, "Größe of the test catalog.");
    EXPECT_NE(utf8, local);
    EXPECT_EQ(wv_i18n_msg_utf8(0x7E57A003), utf8);
    EXPECT_EQ(wv_i18n_msg(0x7E57A003), local);

    // A library message: the catalog text of out of memory.
    EXPECT_STREQ(wv_i18n_msg(0x10652065), "Out of memory: a memory allocation failed.");
}

TEST_F(MessageTextTest, UnknownNumbersGetAStableReadableText) {
    struct Case {
        unsigned number;
        const char* text;
    };
    const Case cases[] = {
        {0xDEADBEEF, "Unknown message number (0xdeadbeef)."},
        {0x7E57A0FF, "Unknown message number (0x7e57a0ff)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const char* local = wv_i18n_msg(c.number);
        ASSERT_NE(local, nullptr);
        EXPECT_STREQ(local, c.text);
        EXPECT_EQ(wv_i18n_msg(c.number), local);
        const char* utf8 = wv_i18n_msg_utf8(c.number);
        ASSERT_NE(utf8, nullptr);
        EXPECT_STREQ(utf8, c.text);
        EXPECT_NE(utf8, local);
        // No default message either: the local cache's unknown text, the same pointer.
        EXPECT_EQ(wv_i18n_msgC(c.number), local);
    }
    EXPECT_STREQ(i18nfailure, "Unknown message number (0x%8.8lx).");
}

TEST_F(MessageTextTest, DefaultMessagesAreNotCached) {
    unsigned status = 0;
    const char* expected = ov_msg_get_default_msg(0x1354A0C8, &status);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(wv_i18n_msgC(0x1354A0C8), expected);
    // The catalog text of the same number comes from the cache, not from the default table.
    EXPECT_NE(wv_i18n_msg(0x1354A0C8), expected);
}

TEST(I18NCacheTest, GrowthKeepsEveryTextPointer) {
    I18NCache cache;
    std::vector<std::string> texts;
    for (int i = 0; i < 1025; ++i) texts.push_back("text " + std::to_string(i));
    // Descending numbers: every insert moves the whole tail.
    for (int i = 0; i < 1024; ++i) cache.insert(5000 - i, texts[i].c_str());
    EXPECT_EQ(cache.getCapacity(), 1024);
    EXPECT_EQ(cache.getCount(), 1024);
    cache.insert(1, texts[1024].c_str());
    EXPECT_EQ(cache.getCapacity(), 2048);
    EXPECT_EQ(cache.getCount(), 1025);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(cache.match(5000 - i), texts[i].c_str()) << i;
    EXPECT_EQ(cache.match(1), texts[1024].c_str());
    EXPECT_EQ(cache.match(2), nullptr);
}

TEST(I18NCacheTest, OrdersAsUnsignedAndKeepsEqualNumbersInInsertOrder) {
    I18NCache cache;
    cache.insert(0x80000000u, "high");
    cache.insert(1, "first one");
    cache.insert(0xFFFFFFFFu, "top");
    cache.insert(1, "second one");
    EXPECT_STREQ(cache.match(0x80000000u), "high");
    EXPECT_STREQ(cache.match(0xFFFFFFFFu), "top");
    testing::internal::CaptureStdout();
    cache.dump_wv_i18n_cache();
    std::string dump = testing::internal::GetCapturedStdout();
    EXPECT_EQ(dump,
              "Cache is 1024 entries, 4 used.\n"
              "Key 1, text <first one>\n"
              "Key 1, text <second one>\n"
              "Key -2147483648, text <high>\n"
              "Key -1, text <top>\n");
}

TEST(I18NCacheTest, EmptyCacheDumpsOnlyItsSize) {
    I18NCache cache;
    EXPECT_EQ(cache.match(1), nullptr);
    testing::internal::CaptureStdout();
    cache.dump_wv_i18n_cache();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cache is 0 entries, 0 used.\n");
}

TEST(I18NCacheTest, UnknownTextIsMadeOnceAndKept) {
    // The texts a cache makes live as long as the process, like the library's own caches.
    static I18NCache* cache = new I18NCache();
    const char* text = cache->msgNotFound(1);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Unknown message number (0x00000001).");
    EXPECT_EQ(cache->msgNotFound(1), text);
    EXPECT_EQ(cache->match(1), text);
    EXPECT_EQ(cache->getCount(), 1);
}

}  // namespace
