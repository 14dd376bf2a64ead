// The text utilities from many threads at once, starting with their very first call, when
// the tables of the fixed lists are made.

#include <ovutil/encode.h>
#include <ovutil/wvwchar.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

TEST(TextThreads, FirstAndLaterCallsFromManyThreads) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            ++ready;
            while (ready.load() < kThreads) {
            }
            for (int i = 0; i < 200; ++i) {
                char* filter = wv_mbs_sprintf("(cn=%Q)(sn=%P)(x=%L%M%A)", "a*(b)", "c*\\", "(*)", "(*)", "#");
                if (!filter || std::strcmp(filter, "(cn=a\\2a\\28b\\29)(sn=c*\\5c)(x=\\28*\\29\\28\\2a\\29\\#)") != 0)
                    ++wrong;
                std::free(filter);
                if (wv_mbs_validpchars("a*") != 0 || wv_mbs_validpatchars("a*") != 1) ++wrong;
                char* quoted = wv_mbs_patquote("x(y");
                if (!quoted || std::strcmp(quoted, "x\\28y") != 0) ++wrong;
                std::free(quoted);
                char* stored = util_encode("pw");
                char* back = util_decode(stored);
                if (!back || std::strcmp(back, "pw") != 0) ++wrong;
                std::free(stored);
                std::free(back);
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
