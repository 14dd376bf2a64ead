// Helpers for the tests of the reader/writer locks: a lock that deletes itself, a look at its
// record, and actors (threads that run one step at a time on request) to order threads by
// handshakes instead of sleeps.
#ifndef TESTS_LOCKS_LOCK_TEST_SUPPORT_H
#define TESTS_LOCKS_LOCK_TEST_SUPPORT_H

#include <errno.h>
#include <pthread.h>

#include <time.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include <ovutil/wvlock.h>

#include "internal/wvlock.h"

namespace locktest {

using namespace ovutil_internal;

// A handshake that has not happened after this long never will: the lock is stuck. The test
// then stops with a message instead of hanging until the test runner's timeout.
constexpr std::chrono::seconds kStuck{30};

[[noreturn]] inline void stuck(const char* what) {
    std::fprintf(stderr, "lock test: %s within %lld s; the lock is stuck\n", what,
                 static_cast<long long>(kStuck.count()));
    std::abort();
}

// A lock for the length of a scope.
class Lock {
public:
    Lock() { lock__create(&lock_, nullptr, nullptr); }
    ~Lock() { lock__delete(lock_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    lock_s_t* get() const { return lock_; }
    operator lock_s_t*() const { return lock_; }

private:
    lock_s_t* lock_ = nullptr;
};

// What the record holds, read under its mutex as the lock's own calls read it. Only for a
// moment when no other thread tries the lock (a try would see the mutex taken).
struct Snapshot {
    int state;
    int readers;
    int waiters;
};

inline Snapshot snapshot(lock_s_t* lock) {
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += kStuck.count();
    if (pthread_mutex_timedlock(&lock->mutex, &until) != 0)
        stuck("the record's mutex was not free");
    Snapshot s{lock->state, lock->readers, lock->waiters};
    pthread_mutex_unlock(&lock->mutex);
    return s;
}

// Returns once `n` threads are blocked in the lock's condition wait.
inline void awaitWaiters(lock_s_t* lock, int n) {
    const auto deadline = std::chrono::steady_clock::now() + kStuck;
    while (snapshot(lock).waiters != n) {
        if (std::chrono::steady_clock::now() > deadline)
            stuck("the expected number of threads did not come to wait");
        std::this_thread::yield();
    }
}

// A thread that runs the steps it is handed, one at a time: start() hands a step over and
// returns at once, finish() waits for its result. A step that blocks in a lock shows up in
// the lock's waiters count, which is how a test knows it has got there.
class Actor {
public:
    Actor() : thread_([this] { loop(); }) {}
    ~Actor() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Actor(const Actor&) = delete;
    Actor& operator=(const Actor&) = delete;

    void start(std::function<int()> step) {
        std::lock_guard<std::mutex> hold(mutex_);
        step_ = std::move(step);
        done_ = false;
        changed_.notify_all();
    }
    int finish() {
        std::unique_lock<std::mutex> hold(mutex_);
        if (!changed_.wait_for(hold, kStuck, [this] { return done_; }))
            stuck("a step did not finish");
        return result_;
    }
    int run(std::function<int()> step) {
        start(std::move(step));
        return finish();
    }
    // errno in the actor's thread right after its last step.
    int lastErrno() {
        std::lock_guard<std::mutex> hold(mutex_);
        return errno_;
    }
    bool finished() {
        std::lock_guard<std::mutex> hold(mutex_);
        return done_;
    }

    // Steps for the lock calls, with `wait` as given.
    int read(lock_s_t* l, int wait) {
        return run([=] { return lock__read(l, nullptr, nullptr, wait); });
    }
    int riw(lock_s_t* l, int wait) {
        return run([=] { return lock__riw(l, nullptr, nullptr, wait); });
    }
    int justwrite(lock_s_t* l, int wait) {
        return run([=] { return lock__justwrite(l, nullptr, nullptr, wait); });
    }
    int write(lock_s_t* l, int wait) {
        return run([=] { return lock__write(l, nullptr, nullptr, wait); });
    }
    void unlock(lock_s_t* l) {
        run([=] {
            lock__unlock(l);
            return 0;
        });
    }

private:
    void loop() {
        std::unique_lock<std::mutex> hold(mutex_);
        for (;;) {
            changed_.wait(hold, [this] { return quit_ || step_; });
            if (!step_) return;
            std::function<int()> step = std::move(step_);
            step_ = nullptr;
            hold.unlock();
            errno = 12345;  // so that a step that does not set errno shows it
            const int result = step();
            const int err = errno;
            hold.lock();
            result_ = result;
            errno_ = err;
            done_ = true;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<int()> step_;
    bool done_ = true;
    bool quit_ = false;
    int result_ = 0;
    int errno_ = 0;
    std::thread thread_;  // last: starts once the members above exist
};

}  // namespace locktest

#endif  // TESTS_LOCKS_LOCK_TEST_SUPPORT_H
