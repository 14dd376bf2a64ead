// Many threads ask for the process lock factory at once, before it exists: all get the same
// one. A binary of its own, so that nothing in the process has made the factory before.
#include <ovutil/MrProcessLock.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(FactoryFirstUse, ConcurrentFirstCallsMakeOneFactory) {
    ASSERT_EQ(MrProcessLockFactory::theLockFactory_, nullptr)
        << "the factory was made before this test; it must be the first use in its process";
    constexpr int kThreads = 8;
    std::vector<MrProcessLockFactory*> seen(kThreads, nullptr);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (!go.load()) std::this_thread::yield();
            seen[t] = MrProcessLockFactory::getLockFactory();
        });
    while (ready.load() != kThreads) std::this_thread::yield();
    go = true;
    for (auto& t : threads) t.join();
    ASSERT_NE(seen[0], nullptr);
    for (MrProcessLockFactory* f : seen) EXPECT_EQ(f, seen[0]);
    EXPECT_EQ(MrProcessLockFactory::theLockFactory_, seen[0]);
    EXPECT_EQ(seen[0]->getFactoryType(), stubLock);
}

}  // namespace
