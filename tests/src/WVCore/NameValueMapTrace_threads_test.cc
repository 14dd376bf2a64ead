// The masked-name set is created once even when the first renderings of the process race.
// This binary holds this one test so that its renderings are the first of the process.

#include <ovutil/NameValueMap.h>

#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(NameValueMapTraceThreads, FirstRenderingsFromManyThreadsShareOneSet) {
    ASSERT_EQ(NameValueMap::namesNotToTrace, nullptr) << "a rendering ran before this test";
    constexpr int kThreads = 8;
    std::vector<NameValueMap> maps(kThreads);
    for (auto& map : maps) {
        map.addString("pwd", "secret");
        map.addString("user", "u");
    }
    std::vector<std::string> rendered(kThreads);
    std::vector<ZHashMap_6_0*> seen(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            ZUTF8String_6_0 out;
            maps[t].buildTraceBuf(out, 0);
            rendered[t] = out.c_str();
            seen[t] = NameValueMap::namesNotToTrace;
        });
    }
    for (auto& thread : threads) thread.join();

    ASSERT_NE(NameValueMap::namesNotToTrace, nullptr);
    EXPECT_EQ(NameValueMap::namesNotToTrace->size(), 4u);
    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(seen[t], NameValueMap::namesNotToTrace);
        EXPECT_EQ(rendered[t],
                  "\tnumber of entries = 2\n\tnum values = 1\tpwd = ********\n"
                  "\tnum values = 1\tuser = u\n");
    }
}

}  // namespace
