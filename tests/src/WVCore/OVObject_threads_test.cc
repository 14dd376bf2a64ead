// The shared empty string is created by the first read that finds nothing; two threads that
// make that first read at the same moment must get the same, fully built string. This binary
// holds this one test so that its reads are the first of the process.

#include <ovutil/OVObject.h>

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

namespace {

TEST(OVObjectThreads, FirstEmptyReadsFromManyThreadsShareOneString) {
    constexpr int kThreads = 8;
    std::vector<OVObject> objects(kThreads);
    std::vector<const ZUTF8String_6_0*> seen(kThreads, nullptr);
    std::vector<size_t> lengths(kThreads, 99);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            // Alternate the readers that fall back to the empty string.
            const ZUTF8String_6_0& empty = t % 2 == 0
                                               ? objects[t].getStringValue("missing", 0, nullptr)
                                               : objects[t].getName();
            seen[t] = &empty;
            lengths[t] = empty.length();
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(seen[t], seen[0]);
        EXPECT_EQ(lengths[t], 0u);
    }
    EXPECT_STREQ(seen[0]->c_str(), "");
}

}  // namespace
