// The reader/writer lock with read-intend-write: which holds are granted beside which, who
// waits for whom, what a try leaves behind, and that a blocked thread is not cancelled.
// Threads are ordered by handshakes: a step that must block is seen in the lock's waiters.
#include <errno.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "src/util/wvlock_test_support.h"

namespace {

using locktest::Actor;
using locktest::awaitWaiters;
using locktest::Lock;
using locktest::snapshot;
using namespace ovutil_internal;  // the lock states

int acquire(lock_s_t* lock, char mode, int wait) {
    switch (mode) {
        case 'r':
            return lock__read(lock, nullptr, nullptr, wait);
        case 'i':
            return lock__riw(lock, nullptr, nullptr, wait);
        case 'w':
            return lock__justwrite(lock, nullptr, nullptr, wait);
    }
    ADD_FAILURE() << "unknown mode " << mode;
    return -1;
}

TEST(WvLock, WriterWaitsForTheReadersInsideAndLaterReadersWaitBehindIt) {
    Lock lock;
    Actor r1, r2, writer, late;
    ASSERT_EQ(r1.read(lock, 1), 1);
    ASSERT_EQ(r2.read(lock, 1), 1);

    writer.start([&] { return lock__justwrite(lock, nullptr, nullptr, 1); });
    awaitWaiters(lock, 1);
    EXPECT_EQ(snapshot(lock).state, kLockWrite) << "the writer claims before the readers leave";
    late.start([&] { return lock__read(lock, nullptr, nullptr, 1); });
    awaitWaiters(lock, 2);

    r1.unlock(lock);
    EXPECT_EQ(snapshot(lock).waiters, 2) << "one reader is still inside";
    r2.unlock(lock);
    EXPECT_EQ(writer.finish(), 1);

    // The late reader woke with the others, found the write and waits again.
    awaitWaiters(lock, 1);
    EXPECT_FALSE(late.finished());
    writer.unlock(lock);
    EXPECT_EQ(late.finish(), 1);
    late.unlock(lock);
    EXPECT_EQ(snapshot(lock).state, kLockFree);
}

// A try (wait 0) against each kind of hold: its result, and the lock right after it.
TEST(WvLock, TriesGiveUpAtOnceAndLeaveTheHoldsAsTheyWere) {
    struct Case {
        const char* holds;  // holds taken first, one actor each: r read, i riw, w write
        char mode;          // what the try asks for
        int granted;
        int state, readers;  // after the try, before anything is released
    } cases[] = {
        {"", 'r', 1, kLockRead, 1},     {"", 'i', 1, kLockIntent, 0},
        {"", 'w', 1, kLockWrite, 0},    {"rr", 'r', 1, kLockRead, 3},
        {"rr", 'i', 1, kLockIntent, 2}, {"rr", 'w', 0, kLockRead, 2},
        {"ir", 'r', 1, kLockIntent, 2}, {"ir", 'i', 0, kLockIntent, 1},
        {"ir", 'w', 0, kLockIntent, 1}, {"w", 'r', 0, kLockWrite, 0},
        {"w", 'i', 0, kLockWrite, 0},   {"w", 'w', 0, kLockWrite, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("holds \"") + c.holds + "\", try " + c.mode);
        Lock lock;
        std::vector<std::unique_ptr<Actor>> holders;
        for (const char* h = c.holds; *h; ++h) {
            holders.push_back(std::make_unique<Actor>());
            ASSERT_EQ(holders.back()->run([&, m = *h] { return acquire(lock, m, 1); }), 1);
        }
        Actor tryer;
        EXPECT_EQ(tryer.run([&] { return acquire(lock, c.mode, 0); }), c.granted);
        EXPECT_EQ(tryer.lastErrno(), 0) << "a try that found the mutex free leaves errno 0";
        const locktest::Snapshot after = snapshot(lock);
        EXPECT_EQ(after.state, c.state);
        EXPECT_EQ(after.readers, c.readers);

        if (c.granted) tryer.unlock(lock);
        for (auto& h : holders) h->unlock(lock);
        EXPECT_EQ(snapshot(lock).state, kLockFree);
        EXPECT_EQ(snapshot(lock).readers, 0);
    }
}

TEST(WvLock, RiwAdmitsReadersAndItsUpgradeWaitsForThem) {
    Lock lock;
    Actor r1, r2, r3, owner, other;
    ASSERT_EQ(r1.read(lock, 1), 1);
    ASSERT_EQ(r2.read(lock, 1), 1);
    EXPECT_EQ(owner.riw(lock, 0), 1) << "riw does not wait for readers";
    EXPECT_EQ(r3.read(lock, 0), 1) << "readers keep coming beside a riw hold";
    EXPECT_EQ(other.riw(lock, 0), 0) << "one riw hold at a time";

    // A try at the upgrade fails while readers are inside; the owner keeps its riw hold.
    EXPECT_EQ(owner.write(lock, 0), 0);
    EXPECT_EQ(snapshot(lock).state, kLockIntent);
    EXPECT_EQ(other.riw(lock, 0), 0);

    int word1 = 0, word2 = 0;
    owner.start([&] { return lock__write(lock, &word1, &word2, 1); });
    awaitWaiters(lock, 1);
    EXPECT_EQ(snapshot(lock).state, kLockWrite) << "the upgrade claims the lock at once";
    Actor late;
    EXPECT_EQ(late.read(lock, 0), 0) << "a reader that comes after the claim must wait";

    r1.unlock(lock);
    r2.unlock(lock);
    EXPECT_EQ(snapshot(lock).waiters, 1) << "the upgrade still waits for the last reader";
    r3.unlock(lock);
    EXPECT_EQ(owner.finish(), 1);
    pthread_mutex_lock(&lock.get()->mutex);
    EXPECT_EQ(lock.get()->holderWord1, &word1);
    EXPECT_EQ(lock.get()->holderWord2, &word2);
    pthread_mutex_unlock(&lock.get()->mutex);

    owner.unlock(lock);
    EXPECT_EQ(snapshot(lock).state, kLockFree);
    EXPECT_EQ(other.justwrite(lock, 0), 1);
    other.unlock(lock);
}

TEST(WvLock, ReleasesLeaveTheHoldsOfOthers) {
    Lock lock;
    Actor owner, reader;
    // Unlocking a free lock changes nothing.
    lock__unlock(lock);
    EXPECT_EQ(snapshot(lock).state, kLockFree);
    EXPECT_EQ(snapshot(lock).readers, 0);

    // The riw owner leaves first: the reader's hold stays.
    ASSERT_EQ(owner.riw(lock, 1), 1);
    ASSERT_EQ(reader.read(lock, 1), 1);
    owner.unlock(lock);
    EXPECT_EQ(snapshot(lock).state, kLockRead);
    EXPECT_EQ(snapshot(lock).readers, 1);
    EXPECT_EQ(owner.justwrite(lock, 0), 0) << "the reader still holds";
    reader.unlock(lock);
    EXPECT_EQ(snapshot(lock).state, kLockFree);

    // The reader leaves first: the riw hold stays.
    ASSERT_EQ(owner.riw(lock, 1), 1);
    ASSERT_EQ(reader.read(lock, 1), 1);
    reader.unlock(lock);
    EXPECT_EQ(snapshot(lock).state, kLockIntent);
    EXPECT_EQ(reader.riw(lock, 0), 0);
    owner.unlock(lock);
    EXPECT_EQ(snapshot(lock).state, kLockFree);
}

// While another thread is inside a call on the lock (it holds the record's mutex), every try
// gives up with EBUSY and changes nothing, even where the hold itself would be free.
TEST(WvLock, TryMeetingAThreadInsideACallGivesUpWithEbusy) {
    Lock lock;
    Actor owner, busy, tryer;
    ASSERT_EQ(owner.riw(lock, 1), 1);
    busy.run([&] { return pthread_mutex_lock(&lock.get()->mutex); });

    for (char mode : {'r', 'i', 'w'}) {
        SCOPED_TRACE(std::string("try ") + mode);
        EXPECT_EQ(tryer.run([&] { return acquire(lock, mode, 0); }), 0);
        EXPECT_EQ(tryer.lastErrno(), EBUSY);
    }
    EXPECT_EQ(owner.write(lock, 0), 0);
    EXPECT_EQ(owner.lastErrno(), EBUSY);

    busy.run([&] { return pthread_mutex_unlock(&lock.get()->mutex); });
    const locktest::Snapshot s = snapshot(lock);
    EXPECT_EQ(s.state, kLockIntent);
    EXPECT_EQ(s.readers, 0);
    EXPECT_EQ(owner.write(lock, 0), 1) << "the riw hold survived the refused upgrade";
    EXPECT_EQ(owner.lastErrno(), 0);
    owner.unlock(lock);
}

// A reader blocked behind a writer is cancelled only after its lock call has returned.
struct CancelProbe {
    lock_s_t* lock;
    std::atomic<int> granted{-1};
    std::atomic<int> stateBefore{-1};
    std::atomic<int> stateAfter{-1};
};

extern "C" void* readThenReachACancellationPoint(void* arg) {
    auto* probe = static_cast<CancelProbe*>(arg);
    int state = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &state);
    probe->stateBefore = state;
    probe->granted = lock__read(probe->lock, nullptr, nullptr, 1);
    // The cancel state is back to what it was: asking for "enable" reports the current one.
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &state);
    probe->stateAfter = state;
    lock__unlock(probe->lock);
    pthread_testcancel();
    return nullptr;
}

TEST(WvLock, BlockedReaderIsCancelledOnlyAfterTheLockCall) {
    Lock lock;
    ASSERT_EQ(lock__justwrite(lock, nullptr, nullptr, 1), 1);
    CancelProbe probe;
    probe.lock = lock;
    pthread_t reader;
    ASSERT_EQ(pthread_create(&reader, nullptr, readThenReachACancellationPoint, &probe), 0);
    awaitWaiters(lock, 1);
    ASSERT_EQ(pthread_cancel(reader), 0);
    // Had the cancellation acted inside the wait, the thread would be gone and the waiters
    // count stuck; the release below must still hand the reader its hold.
    lock__unlock(lock);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(reader, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    EXPECT_EQ(probe.granted.load(), 1);
    EXPECT_EQ(probe.stateAfter.load(), PTHREAD_CANCEL_ENABLE);
    const locktest::Snapshot s = snapshot(lock);
    EXPECT_EQ(s.state, kLockFree);
    EXPECT_EQ(s.waiters, 0);
}

// Many threads mix every hold, blocking and trying; counters kept beside the lock check that
// a writer is never beside anyone and that there is at most one riw owner. The protected
// value is a plain variable, so ThreadSanitizer reports any hold that does not order its
// accesses.
TEST(WvLock, StressOfAllModesKeepsTheInvariants) {
    Lock lock;
    constexpr int kThreads = 8;
    constexpr int kRounds = 3000;
    std::atomic<int> readersIn{0}, riwIn{0}, writersIn{0}, violations{0};
    std::atomic<long> granted{0};
    long value = 0;   // changed only under a write hold
    long mirror = 0;  // likewise; a reader must see both agree

    auto check = [&](bool ok) {
        if (!ok) violations.fetch_add(1);
    };
    // Now and then a holder lets the others run while it holds, so that holds overlap
    // often even on a machine with few cores.
    auto linger = [](std::uint32_t seed) {
        if ((seed >> 12) % 4 == 0) std::this_thread::yield();
    };
    auto asWriter = [&](std::uint32_t seed) {
        check(writersIn.fetch_add(1) == 0);
        check(readersIn.load() == 0);
        ++value;
        linger(seed);
        ++mirror;
        writersIn.fetch_sub(1);
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::uint32_t seed = 2654435761u * static_cast<std::uint32_t>(t + 1);
            for (int round = 0; round < kRounds; ++round) {
                seed = seed * 1664525u + 1013904223u;
                const unsigned pick = (seed >> 16) % 100;
                const int wait = ((seed >> 8) & 3) != 0;  // a quarter of the calls only try
                if (pick < 70) {
                    if (!lock__read(lock, nullptr, nullptr, wait)) continue;
                    readersIn.fetch_add(1);
                    check(writersIn.load() == 0);
                    const long seen = value;
                    linger(seed);
                    check(seen == mirror);
                    readersIn.fetch_sub(1);
                } else if (pick < 88) {
                    if (!lock__riw(lock, nullptr, nullptr, wait)) continue;
                    check(riwIn.fetch_add(1) == 0);
                    check(writersIn.load() == 0);
                    check(value == mirror);
                    linger(seed);
                    if ((seed >> 4) & 1) {
                        if (lock__write(lock, nullptr, nullptr, (seed >> 5) & 1))
                            asWriter(seed);
                        else
                            check(riwIn.load() == 1);
                    }
                    riwIn.fetch_sub(1);
                } else {
                    if (!lock__justwrite(lock, nullptr, nullptr, wait)) continue;
                    check(riwIn.load() == 0);
                    asWriter(seed);
                }
                granted.fetch_add(1);
                lock__unlock(lock);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_GT(granted.load(), kThreads * kRounds / 2);
    EXPECT_EQ(value, mirror);
    const locktest::Snapshot s = snapshot(lock);
    EXPECT_EQ(s.state, kLockFree);
    EXPECT_EQ(s.readers, 0);
    EXPECT_EQ(s.waiters, 0);
}

TEST(WvLock, CreateKeepsTheCallerWordsAndSpyDoesNothing) {
    int a = 0, b = 0;
    lock_s_t* lock = nullptr;
    errno = EINVAL;
    ASSERT_EQ(lock__create(&lock, &a, &b), 0);
    EXPECT_EQ(errno, 0);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock->createWord1, &a);
    EXPECT_EQ(lock->createWord2, &b);
    EXPECT_EQ(snapshot(lock).state, kLockFree);
    lock__spy(lock, 1, "anything", &a);
    lock__spy(nullptr);
    EXPECT_EQ(snapshot(lock).state, kLockFree);
    lock__delete(lock);
}

}  // namespace
