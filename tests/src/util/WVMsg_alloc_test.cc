// Message texts when memory runs out: a cache that cannot grow keeps what it has and drops
// the new entry, and the look-ups answer null (or the right text), never an exception.

#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ovutil/I18NCache.h>
#include <ovutil/wvmsg.h>

#include "harness/failing_alloc.h"

namespace {

class MessageAllocTest : public testing::Test {
protected:
    void SetUp() override {
        if (!ovtest::canFailAllocations())
            GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
    }

    static std::string dump(const I18NCache& cache) {
        testing::internal::CaptureStdout();
        cache.dump_wv_i18n_cache();
        return testing::internal::GetCapturedStdout();
    }
};

// Growth needs memory twice: the array when it is full (every 1024 entries) and the look-up
// index when it would be more than half full (at 512 entries first). Either failing drops the
// insert and leaves the cache exactly as it was; the next insert with memory succeeds.
TEST_F(MessageAllocTest, FailedGrowthDropsTheInsertAndKeepsTheCache) {
    const struct {
        const char* what;
        int before;
        int capacityAfter;
    } cases[] = {
        {"the array is full", 1024, 2048},
        {"the look-up index is half full", 512, 1024},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        I18NCache cache;
        std::vector<std::string> texts;
        for (int i = 0; i <= c.before; ++i) texts.push_back("text " + std::to_string(i));
        for (int i = 0; i < c.before; ++i) cache.insert(1000u + 2u * i, texts[i].c_str());
        const std::string before = dump(cache);
        const unsigned added = 1000u + 2u * c.before - 1;  // lands among the others
        {
            ovtest::FailingAllocations fail;
            cache.insert(added, texts[c.before].c_str());
        }
        EXPECT_EQ(cache.getCount(), c.before);
        EXPECT_EQ(cache.match(added), nullptr);
        EXPECT_EQ(dump(cache), before);
        for (int i = 0; i < c.before; ++i)
            ASSERT_EQ(cache.match(1000u + 2u * i), texts[i].c_str()) << i;

        cache.insert(added, texts[c.before].c_str());
        EXPECT_EQ(cache.getCount(), c.before + 1);
        EXPECT_EQ(cache.getCapacity(), c.capacityAfter);
        EXPECT_EQ(cache.match(added), texts[c.before].c_str());
    }
}

TEST_F(MessageAllocTest, NoRoomForTheUnknownTextGivesNull) {
    I18NCache cache;
    const char* text;
    {
        ovtest::FailingAllocations fail;
        text = cache.msgNotFound(7);
    }
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(cache.getCount(), 0);
    text = cache.msgNotFound(7);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Unknown message number (0x00000007).");
}

// Every allocation of a first look-up in turn fails, and all after it: the answer is null or
// the text, never an exception, and once memory is back the same number gives its text, the
// same pointer every time.
TEST_F(MessageAllocTest, FirstLookUpsGiveNullOrTheTextWhateverAllocationFails) {
    // A catalog of the tests' own, and a number that no catalog knows.
    const std::string path =
        std::string(OV_STARTUP_TEST_NLS) + "/%L/%N.cat:" + OV_NLS_MSG_DIR + "/%L/%N.cat";
    setenv("NLSPATH", path.c_str(), 1);
    wv_i18n_msg(0x10652065);  // the caches exist
    const struct {
        const char* what;
        const char* (*lookup)(unsigned);
        unsigned number;
        const char* text;
    } cases[] = {
        {"local, catalog", wv_i18n_msg, 0x7E57A002, "Second text of the test catalog."},
        {"UTF-8, catalog", wv_i18n_msg_utf8, 0x7E57A002, "Second text of the test catalog."},
        {"local, unknown", wv_i18n_msg, 0x7E57AFF1, "Unknown message number (0x7e57aff1)."},
        {"UTF-8, unknown", wv_i18n_msg_utf8, 0x7E57AFF1, "Unknown message number (0x7e57aff1)."},
        {"default catalog, unknown", wv_i18n_msgC, 0x7E57AFF2,
         "Unknown message number (0x7e57aff2)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (long after = 0;; ++after) {
            SCOPED_TRACE("allocations fail from number " + std::to_string(after));
            const char* text = nullptr;
            bool threw = false;
            long attempts;
            {
                ovtest::FailingAllocations fail(after);
                try {
                    text = c.lookup(c.number);
                } catch (...) {
                    threw = true;
                }
                attempts = fail.attempts();
            }
            ASSERT_FALSE(threw);
            if (text != nullptr) {
                EXPECT_STREQ(text, c.text);
            }
            if (attempts <= after) {
                ASSERT_NE(text, nullptr) << "nothing failed";
                break;
            }
        }
        const char* text = c.lookup(c.number);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(c.lookup(c.number), text);
    }
}

}  // namespace
