// The reader/writer lock of lock__* beside its peers, in one binary so that the figures read
// as ratios on a shared machine:
//   - uncontended: read+unlock, write+unlock, and riw+upgrade+unlock against boost's
//     lock_upgrade + unlock_upgrade_and_lock + unlock; for scale a bare mutex lock+unlock,
//     two of them (what any lock that takes a mutex in each call pays for read+unlock), and
//     the leanest mutex+condition-variable lock of the same design as lock__*;
//   - contended: 2 and 4 threads on one lock, 1 call in 100 a write, a fixed piece of work
//     inside every hold: summing (or, for a write, changing) a table of 64 or 1024 words
//     (items/s is the throughput; real time, since waiting threads sleep);
//   - the process lock factory: newLock of each kind, then delete;
//   - between processes: how long a writer waits for a Unix file lock while 2, 4 or 8 reader
//     threads of another process overlap without a pause (each: read lock, 2 ms, unlock, at
//     once again); manual time, the mean and the longest wait of the run.
#include <pthread.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <boost/thread/shared_mutex.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include <ovutil/MrProcessLock.h>
#include <ovutil/wvlock.h>

namespace {

// ---- The locks behind one interface: read, write, release of each.

struct WvLock {
    lock_s_t* lock;
    WvLock() { lock__create(&lock, nullptr, nullptr); }
    void read() { lock__read(lock, nullptr, nullptr, 1); }
    void unlockRead() { lock__unlock(lock); }
    void write() { lock__justwrite(lock, nullptr, nullptr, 1); }
    void unlockWrite() { lock__unlock(lock); }
};

struct PthreadRwlock {
    pthread_rwlock_t lock = PTHREAD_RWLOCK_INITIALIZER;
    void read() { pthread_rwlock_rdlock(&lock); }
    void unlockRead() { pthread_rwlock_unlock(&lock); }
    void write() { pthread_rwlock_wrlock(&lock); }
    void unlockWrite() { pthread_rwlock_unlock(&lock); }
};

// The same with waiting writers preferred over new readers, as lock__* and the object
// library's ZReadWriteLock_6_0 do: the fairer peer for the contended runs.
struct PthreadRwlockPreferWriter {
    pthread_rwlock_t lock;
    PthreadRwlockPreferWriter() {
        pthread_rwlockattr_t attr;
        pthread_rwlockattr_init(&attr);
        pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
        pthread_rwlock_init(&lock, &attr);
        pthread_rwlockattr_destroy(&attr);
    }
    void read() { pthread_rwlock_rdlock(&lock); }
    void unlockRead() { pthread_rwlock_unlock(&lock); }
    void write() { pthread_rwlock_wrlock(&lock); }
    void unlockWrite() { pthread_rwlock_unlock(&lock); }
};

// The leanest lock of the same design as lock__*: one mutex taken and released in every
// call and never held while a hold lasts, one condition variable, a writer that claims
// before the readers inside have left, a broadcast only when somebody waits. No riw, no
// errno, no cancellation control: what that design costs at the least.
struct MutexCondLock {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
    int readers = 0;
    int waiters = 0;
    bool writer = false;
    void wait() {
        ++waiters;
        pthread_cond_wait(&cond, &mutex);
        --waiters;
    }
    void read() {
        pthread_mutex_lock(&mutex);
        while (writer) wait();
        ++readers;
        pthread_mutex_unlock(&mutex);
    }
    void unlockRead() {
        pthread_mutex_lock(&mutex);
        const bool wake = --readers == 0 && waiters > 0;
        pthread_mutex_unlock(&mutex);
        if (wake) pthread_cond_broadcast(&cond);
    }
    void write() {
        pthread_mutex_lock(&mutex);
        while (writer) wait();
        writer = true;
        while (readers > 0) wait();
        pthread_mutex_unlock(&mutex);
    }
    void unlockWrite() {
        pthread_mutex_lock(&mutex);
        writer = false;
        const bool wake = waiters > 0;
        pthread_mutex_unlock(&mutex);
        if (wake) pthread_cond_broadcast(&cond);
    }
};

struct StdSharedMutex {
    std::shared_mutex lock;
    void read() { lock.lock_shared(); }
    void unlockRead() { lock.unlock_shared(); }
    void write() { lock.lock(); }
    void unlockWrite() { lock.unlock(); }
};

struct BoostUpgradeMutex {
    boost::upgrade_mutex lock;
    void read() { lock.lock_shared(); }
    void unlockRead() { lock.unlock_shared(); }
    void write() { lock.lock(); }
    void unlockWrite() { lock.unlock(); }
};

// ---- Uncontended

template <class Lock>
void BM_ReadUnlock(benchmark::State& state) {
    Lock lock;
    for (auto _ : state) {
        lock.read();
        lock.unlockRead();
    }
}

template <class Lock>
void BM_WriteUnlock(benchmark::State& state) {
    Lock lock;
    for (auto _ : state) {
        lock.write();
        lock.unlockWrite();
    }
}

void BM_MutexLockUnlock(benchmark::State& state) {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    for (auto _ : state) {
        pthread_mutex_lock(&mutex);
        pthread_mutex_unlock(&mutex);
    }
}

// The floor of a lock whose every call takes and releases one mutex: read+unlock is two
// such pairs, against one pair of atomic operations for pthread_rwlock.
void BM_MutexLockUnlockTwice(benchmark::State& state) {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    for (auto _ : state) {
        pthread_mutex_lock(&mutex);
        pthread_mutex_unlock(&mutex);
        pthread_mutex_lock(&mutex);
        pthread_mutex_unlock(&mutex);
    }
}

void BM_UpgradeUnlock_WvLock(benchmark::State& state) {
    WvLock lock;
    for (auto _ : state) {
        lock__riw(lock.lock, nullptr, nullptr, 1);
        lock__write(lock.lock, nullptr, nullptr, 1);
        lock__unlock(lock.lock);
    }
}

void BM_UpgradeUnlock_BoostUpgradeMutex(benchmark::State& state) {
    boost::upgrade_mutex lock;
    for (auto _ : state) {
        lock.lock_upgrade();
        lock.unlock_upgrade_and_lock();
        lock.unlock();
    }
}

BENCHMARK_TEMPLATE(BM_ReadUnlock, WvLock);
BENCHMARK_TEMPLATE(BM_ReadUnlock, PthreadRwlock);
BENCHMARK_TEMPLATE(BM_ReadUnlock, PthreadRwlockPreferWriter);
BENCHMARK_TEMPLATE(BM_ReadUnlock, MutexCondLock);
BENCHMARK_TEMPLATE(BM_ReadUnlock, StdSharedMutex);
BENCHMARK_TEMPLATE(BM_ReadUnlock, BoostUpgradeMutex);
BENCHMARK(BM_MutexLockUnlock);
BENCHMARK(BM_MutexLockUnlockTwice);
BENCHMARK_TEMPLATE(BM_WriteUnlock, WvLock);
BENCHMARK_TEMPLATE(BM_WriteUnlock, PthreadRwlock);
BENCHMARK_TEMPLATE(BM_WriteUnlock, StdSharedMutex);
BENCHMARK_TEMPLATE(BM_WriteUnlock, BoostUpgradeMutex);
BENCHMARK(BM_UpgradeUnlock_WvLock);
BENCHMARK(BM_UpgradeUnlock_BoostUpgradeMutex);

// ---- Contended: every thread of a run shares one lock and one table.

constexpr int kTableSize = 1024;  // the work uses the first state.range(0) words
constexpr int kWriteEvery = 100;

// The lock and the table on cache lines of their own, so that no lock pays for sharing a
// line with the data the work reads and writes (the pthread_rwlock would otherwise share its
// line with the start of the table, and WvLock's record pointer likewise).
template <class Lock>
struct Shared {
    alignas(64) Lock lock;
    alignas(64) std::uint64_t table[kTableSize] = {};
};

template <class Lock>
Shared<Lock>& shared() {
    static Shared<Lock>* s = new Shared<Lock>();  // lives for the whole run
    return *s;
}

template <class Lock>
void BM_Mixed(benchmark::State& state) {
    Shared<Lock>& s = shared<Lock>();
    const int words = static_cast<int>(state.range(0));
    int round = state.thread_index();
    for (auto _ : state) {
        if (++round % kWriteEvery == 0) {
            s.lock.write();
            for (int i = 0; i < words; ++i) s.table[i] += static_cast<std::uint64_t>(i);
            s.lock.unlockWrite();
        } else {
            s.lock.read();
            std::uint64_t sum = 0;
            for (int i = 0; i < words; ++i) sum += s.table[i];
            benchmark::DoNotOptimize(sum);
            s.lock.unlockRead();
        }
    }
    state.SetItemsProcessed(state.iterations());
}

#define MIXED(Lock)                    \
    BENCHMARK_TEMPLATE(BM_Mixed, Lock) \
        ->ArgName("words")             \
        ->Arg(64)                      \
        ->Arg(1024)                    \
        ->Threads(2)                   \
        ->Threads(4)                   \
        ->UseRealTime()
MIXED(WvLock);
MIXED(PthreadRwlock);
MIXED(PthreadRwlockPreferWriter);
MIXED(MutexCondLock);
MIXED(StdSharedMutex);
MIXED(BoostUpgradeMutex);

// ---- The factory: newLock of each kind, then delete. File locks go to a scratch directory.

// Made on first use and removed at exit; never destroyed before that, so that the exit
// handler still finds its name.
const std::string& scratchDirectory() {
    static const std::string* dir = [] {
        char pattern[] = "/tmp/ovutil-locks-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) abort();
        auto* d = new std::string(pattern);
        std::atexit([] {
            unlink((scratchDirectory() + "/bench.lock").c_str());
            rmdir(scratchDirectory().c_str());
        });
        return d;
    }();
    return *dir;
}

void BM_NewLockDelete(benchmark::State& state) {
    const auto type = static_cast<mrproclocktype>(state.range(0));
    const char* dir = scratchDirectory().c_str();
    for (auto _ : state) {
        ZAbstractReadWriteLock_6_0* lock = MrProcessLockFactory::newLock("bench.lock", type, dir);
        benchmark::DoNotOptimize(lock);
        delete lock;
    }
}
BENCHMARK(BM_NewLockDelete)->ArgName("type")->Arg(stubLock)->Arg(threadLock)->Arg(unixFileLock);

}  // namespace

// ---- Between processes: a writer against overlapping reader threads of another process.

void BM_CrossProcessWriterWait(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    char dir[] = "/tmp/ovutil-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    auto* stop = static_cast<std::atomic<int>*>(mmap(nullptr, sizeof(std::atomic<int>),
                                                     PROT_READ | PROT_WRITE,
                                                     MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (stop) std::atomic<int>(0);
    pid_t pid = fork();
    if (pid == 0) {
        ZAbstractReadWriteLock_6_0* lock =
            MrProcessLockFactory::newLock("bench.lock", unixFileLock, dir);
        std::vector<std::thread> readers;
        for (int t = 0; t < threads; ++t)
            readers.emplace_back([&] {
                while (stop->load() == 0) {
                    lock->readLock();
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    lock->unlock();
                }
            });
        for (auto& r : readers) r.join();
        _exit(0);
    }
    ZAbstractReadWriteLock_6_0* lock =
        MrProcessLockFactory::newLock("bench.lock", unixFileLock, dir);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the readers are in
    double longest = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        lock->writeLock();
        std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
        lock->unlock();
        state.SetIterationTime(waited.count());
        if (waited.count() > longest) longest = waited.count();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the readers overlap again
    }
    stop->store(1);
    waitpid(pid, nullptr, 0);
    delete lock;
    munmap(stop, sizeof(std::atomic<int>));
    std::string rm = std::string("rm -rf ") + dir;
    if (std::system(rm.c_str()) != 0) state.SkipWithError("cannot remove the lock directory");
    state.counters["longest_ms"] = longest * 1000;
}
BENCHMARK(BM_CrossProcessWriterWait)
    ->ArgName("reader_threads")
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Iterations(40)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
