// The message caches read without their lock while another thread fills them: readers must
// never see a wrong or torn entry, and a text once handed out keeps its pointer.

#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <ovutil/I18NCache.h>
#include <ovutil/wvmsg.h>
#include <ovz/locks.h>

namespace {

constexpr int kReaders = 3;

// One writer inserts numbers in a scattered order, through several doublings of the table,
// and publishes how far it got; readers look up what has been published so far. A look-up
// without the lock may miss while the table is being replaced (the caller then asks again
// under the lock, as wv_i18n_msg does), but must never return another entry's text.
TEST(MessageCacheThreadsTest, ReadersWithoutTheLockSeeOnlyWholeEntries) {
    constexpr unsigned kCount = 40000;
    std::vector<unsigned> numbers(kCount);
    for (unsigned i = 0; i < kCount; ++i) numbers[i] = 0x1354A000u + i * 7919u;
    std::vector<char> texts(kCount);
    I18NCache cache;
    std::atomic<unsigned> published{0};
    std::atomic<int> wrong{0}, lostUnderLock{0};

    std::thread writer([&] {
        for (unsigned i = 0; i < kCount; ++i) {
            ZResourceLock_6_0 hold(cache.lock);
            cache.insert(numbers[i], &texts[i]);
            published.store(i + 1, std::memory_order_release);
        }
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r)
        readers.emplace_back([&, r] {
            unsigned seed = 12345u + static_cast<unsigned>(r);
            unsigned seen = 0;
            while (seen < kCount) {
                seen = published.load(std::memory_order_acquire);
                if (seen == 0) continue;
                seed = seed * 1103515245u + 12345u;
                const unsigned i = (seed >> 8) % seen;
                const char* text = cache.match(numbers[i]);
                if (text == nullptr) {
                    ZResourceLock_6_0 hold(cache.lock);
                    text = cache.match(numbers[i]);
                    if (text == nullptr) lostUnderLock.fetch_add(1);
                }
                if (text != nullptr && text != &texts[i]) wrong.fetch_add(1);
                // A number that was never inserted is never found.
                if (cache.match(numbers[i] + 1) != nullptr) wrong.fetch_add(1);
            }
        });
    writer.join();
    for (auto& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(lostUnderLock.load(), 0);
    EXPECT_EQ(cache.getCount(), static_cast<int>(kCount));
}

// The library's own cache: threads keep reading texts they were handed while another thread
// adds thousands of new numbers, so the table grows several times under them.
TEST(MessageCacheThreadsTest, CachedTextsKeepTheirPointersWhileTheCacheGrows) {
    constexpr unsigned kFirst = 0x7E590000u;
    constexpr unsigned kWarm = 300;
    constexpr unsigned kAdded = 6000;
    std::vector<const char*> expected(kWarm);
    for (unsigned i = 0; i < kWarm; ++i) expected[i] = wv_i18n_msg(kFirst + i);
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r)
        readers.emplace_back([&, r] {
            unsigned i = static_cast<unsigned>(r) * 101u;
            do {
                for (int k = 0; k < 1000; ++k, ++i)
                    if (wv_i18n_msg(kFirst + i % kWarm) != expected[i % kWarm]) wrong.fetch_add(1);
            } while (!done.load());
        });
    std::thread writer([&] {
        for (unsigned i = 0; i < kAdded; ++i) {
            const char* text = wv_i18n_msg(kFirst + kWarm + i);
            if (text == nullptr) wrong.fetch_add(1);
        }
        done.store(true);
    });
    writer.join();
    for (auto& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    for (unsigned i = 0; i < kWarm; ++i) ASSERT_EQ(wv_i18n_msg(kFirst + i), expected[i]) << i;
    EXPECT_STREQ(wv_i18n_msg(kFirst + kWarm), "Unknown message number (0x7e59012c).");
}

}  // namespace
