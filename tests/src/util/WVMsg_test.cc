// Message texts by number: the catalogs through NLSPATH, the per-process caches, and the
// text of a number no catalog knows.

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
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
        std::string path =
            std::string(OV_STARTUP_TEST_NLS) + "/%L/%N.cat:" + OV_NLS_MSG_DIR + "/%L/%N.cat";
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

// A catalog missing from the search path is not searched for again until NLSPATH or the
// locale changes; then it is found. Each case uses a catalog of its own, since a catalog once
// opened stays open.
TEST_F(MessageTextTest, MissingCatalogIsSearchedAgainOnlyAfterNlspathOrLocaleChange) {
    const std::string before = getenv("NLSPATH");
    const std::string startLocale = setlocale(LC_MESSAGES, nullptr);
    const std::string otherLocale = startLocale == "C" ? "C.UTF-8" : "C";
    struct Case {
        const char* what;
        unsigned catalog;
        const char* name;
        bool changePath;  // else the locale changes
        const char* text;
    };
    const Case cases[] = {
        {"new NLSPATH", 0x7E57D000, "ov7e57d", true,
         "Third text of the catalog found after a new NLSPATH."},
        {"new locale", 0x7E57E000, "ov7e57e", false,
         "Third text of the catalog found after a new locale."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char dir[] = "/tmp/ovutil_nls_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        const std::string path = std::string(dir) + "/%L/%N.cat";
        setenv("NLSPATH", path.c_str(), 1);
        char unknown[64];
        snprintf(unknown, sizeof unknown, "Unknown message number (0x%8.8x).", c.catalog + 1);
        EXPECT_STREQ(wv_i18n_msg(c.catalog + 1), unknown);

        // The catalog appears where the search path points, for both locales.
        for (const std::string& locale : {startLocale, otherLocale}) {
            std::string target = std::string(dir) + "/" + locale;
            ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
            target += std::string("/") + c.name + ".cat";
            std::string source = std::string(OV_STARTUP_TEST_NLS) + "/C/" + c.name + ".cat";
            std::ifstream in(source, std::ios::binary);
            std::ofstream out(target, std::ios::binary);
            ASSERT_TRUE(in && out) << source;
            out << in.rdbuf();
        }
        snprintf(unknown, sizeof unknown, "Unknown message number (0x%8.8x).", c.catalog + 2);
        EXPECT_STREQ(wv_i18n_msg(c.catalog + 2), unknown) << "searched again without a change";

        if (c.changePath)
            setenv("NLSPATH", (path + ":").c_str(), 1);
        else
            ASSERT_NE(setlocale(LC_MESSAGES, otherLocale.c_str()), nullptr) << otherLocale;
        EXPECT_STREQ(wv_i18n_msg(c.catalog + 3), c.text);
        setlocale(LC_MESSAGES, startLocale.c_str());
        setenv("NLSPATH", before.c_str(), 1);
        std::filesystem::remove_all(dir);
    }
}

// The numbers 0, 1, 2, ... scattered over the whole unsigned range, none equal.
unsigned scattered(int i) { return 0xFFFFFFFFu - static_cast<unsigned>(i) * 858993u; }

TEST(I18NCacheTest, GrowsBy1024EntriesAndKeepsEveryTextPointer) {
    I18NCache cache;
    const int total = 5000;
    std::vector<std::string> texts;
    for (int i = 0; i < total; ++i) texts.push_back("text " + std::to_string(i));
    // The array grows by 1024 entries when an insert finds it full.
    struct Step {
        int count;
        int capacity;
    };
    const Step steps[] = {{1, 1024},    {1024, 1024}, {1025, 2048}, {2048, 2048},
                          {2049, 3072}, {2500, 3072}, {5000, 5120}};
    int inserted = 0;
    std::vector<const char*> handedOut;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.count);
        for (; inserted < step.count; ++inserted) {
            cache.insert(scattered(inserted), texts[inserted].c_str());
            handedOut.push_back(cache.match(scattered(inserted)));
        }
        EXPECT_EQ(cache.getCount(), step.count);
        EXPECT_EQ(cache.getCapacity(), step.capacity);
        // Every text found so far is still found, at the same address.
        for (int i = 0; i < inserted; ++i) ASSERT_EQ(cache.match(scattered(i)), handedOut[i]) << i;
    }
    for (int i = 0; i < total; ++i) ASSERT_EQ(handedOut[i], texts[i].c_str()) << i;
    EXPECT_EQ(cache.match(2), nullptr);
}

// The lines of a dump of `numbers` (with texts "t<number>"), as the dump must write them.
std::string expectedDump(int capacity, std::vector<unsigned> numbers) {
    std::sort(numbers.begin(), numbers.end());
    std::string dump = "Cache is " + std::to_string(capacity) + " entries, " +
                       std::to_string(numbers.size()) + " used.\n";
    for (unsigned n : numbers)
        dump +=
            "Key " + std::to_string(static_cast<int>(n)) + ", text <t" + std::to_string(n) + ">\n";
    return dump;
}

TEST(I18NCacheTest, DumpListsCapacityCountAndEveryEntryInAscendingOrder) {
    struct Case {
        int count;
        int capacity;
    };
    const Case cases[] = {{1, 1024}, {1024, 1024}, {1025, 2048}, {2500, 3072}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        std::vector<unsigned> numbers;
        for (int i = 0; i < c.count; ++i) numbers.push_back(scattered(i));
        std::shuffle(numbers.begin(), numbers.end(), std::mt19937(5));
        std::vector<std::string> texts;
        for (unsigned n : numbers) texts.push_back("t" + std::to_string(n));
        I18NCache cache;
        for (size_t i = 0; i < numbers.size(); ++i) cache.insert(numbers[i], texts[i].c_str());
        testing::internal::CaptureStdout();
        cache.dump_wv_i18n_cache();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), expectedDump(c.capacity, numbers));
    }
}

TEST(I18NCacheTest, ManyNumbersInRandomOrderAreAllFound) {
    // Consecutive runs, as catalogs use them, in a shuffled order, through many growths of
    // the array and of the look-up index.
    std::vector<unsigned> numbers;
    for (unsigned run = 0; run < 20; ++run)
        for (unsigned k = 0; k < 1500; ++k)
            numbers.push_back(0x10000000u * (run % 16) + run * 4096 + k);
    std::mt19937 rng(11);
    std::shuffle(numbers.begin(), numbers.end(), rng);
    I18NCache cache;
    // Each entry's text is a distinct pointer into one buffer, so a wrong slot shows.
    std::vector<char> texts(numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i) cache.insert(numbers[i], &texts[i]);
    EXPECT_EQ(cache.getCount(), static_cast<int>(numbers.size()));
    for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(cache.match(numbers[i]), &texts[i]) << i;
    // The gaps between the runs, and the top of the range.
    for (unsigned run : {0u, 7u, 19u})
        for (unsigned k : {1500u, 4095u})
            EXPECT_EQ(cache.match(0x10000000u * (run % 16) + run * 4096 + k), nullptr)
                << run << " " << k;
    EXPECT_EQ(cache.match(0xFFFFFFFFu), nullptr);
    // A null text is not kept.
    cache.insert(0xFFFFFFF0u, nullptr);
    EXPECT_EQ(cache.match(0xFFFFFFF0u), nullptr);
    EXPECT_EQ(cache.getCount(), static_cast<int>(numbers.size()));
}

TEST(I18NCacheTest, MembersLieInTheOrderOfTheDataModel) {
    // capacity, count, entries, lock: the layout of an exported class is part of its
    // interface, so the raw bytes of a cache are read here as that record.
    static I18NCache* cache = new I18NCache();
    cache->insert(8, "eight");
    cache->insert(0x80000007u, "high");
    cache->insert(7, "seven");
    struct Head {
        int capacity;
        int count;
        I18NCache::Entry* entries;
    };
    Head head;
    std::memcpy(&head, static_cast<const void*>(cache), sizeof head);
    EXPECT_EQ(head.capacity, 1024);
    EXPECT_EQ(head.count, 3);
    ASSERT_NE(head.entries, nullptr);
    // The array itself is sorted as unsigned numbers, and zeroed beyond the count.
    const struct {
        unsigned number;
        const char* text;
    } sorted[] = {{7, "seven"}, {8, "eight"}, {0x80000007u, "high"}, {0, nullptr}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(head.entries[i].number, sorted[i].number);
        if (sorted[i].text == nullptr)
            EXPECT_EQ(head.entries[i].text, nullptr);
        else
            EXPECT_STREQ(head.entries[i].text, sorted[i].text);
    }
    EXPECT_EQ(head.entries[head.capacity - 1].text, nullptr);
    // The lock follows; what the cache keeps besides lies after it.
    const char* base = reinterpret_cast<const char*>(cache);
    EXPECT_EQ(reinterpret_cast<const char*>(&cache->lock) - base, static_cast<long>(sizeof(Head)));
    EXPECT_GE(sizeof(I18NCache), sizeof(Head) + sizeof(ZLock_6_0));
}

TEST(I18NCacheTest, OrdersAsUnsignedAndKeepsEqualNumbersInInsertOrder) {
    I18NCache cache;
    cache.insert(0x80000000u, "high");
    cache.insert(1, "first one");
    cache.insert(0xFFFFFFFFu, "top");
    cache.insert(1, "second one");
    EXPECT_STREQ(cache.match(1), "first one");
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
    // The look-up index is rebuilt as the cache grows; the first of equal numbers stays first.
    for (unsigned n = 2; n < 3000; ++n) cache.insert(n, "filler");
    EXPECT_STREQ(cache.match(1), "first one");
    EXPECT_STREQ(cache.match(0x80000000u), "high");
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
