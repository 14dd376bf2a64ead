// Message text look-ups beside the floor that the cache's lock sets and beside catgets on an
// open catalog (one key, and random keys of a 2,000-message catalog, in one and two threads);
// first look-ups of many distinct numbers; the settled FIPS flag beside a plain atomic load;
// path look-ups; and whole-process start-up, measured as repeated process runs.

#include <nl_types.h>
#include <pthread.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <ovutil/I18NCache.h>
#include <ovutil/PathMap.h>
#include <ovutil/fipsMode.h>
#include <ovutil/getpath.h>
#include <ovutil/wvmsg.h>
#include <ovz/locks.h>

extern char** environ;

namespace {

constexpr unsigned kCacheSize = 2000;
// Numbers of a catalog that does not exist: each becomes a cached "unknown" text.
constexpr unsigned kFirstNumber = 0x7E57B000;

void fillCache() {
    static bool filled = false;
    if (filled) return;
    for (unsigned i = 0; i < kCacheSize; ++i) wv_i18n_msg(kFirstNumber + i);
    filled = true;
}

void BM_WvI18nMsgCached(benchmark::State& state) {
    fillCache();
    unsigned i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(wv_i18n_msg(kFirstNumber + (i * 7919u) % kCacheSize));
        ++i;
    }
}
BENCHMARK(BM_WvI18nMsgCached);

struct Entry {
    unsigned number;
    const char* text;
};

int compareEntries(const void* a, const void* b) {
    unsigned x = static_cast<const Entry*>(a)->number, y = static_cast<const Entry*>(b)->number;
    return x < y ? -1 : (x > y ? 1 : 0);
}

// The floor: an uncontended mutex around a bsearch of a 2,000-entry array.
void BM_MutexBsearchFloor(benchmark::State& state) {
    std::vector<Entry> entries(kCacheSize);
    for (unsigned i = 0; i < kCacheSize; ++i) entries[i] = {kFirstNumber + i, "text"};
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    unsigned i = 0;
    for (auto _ : state) {
        Entry key{kFirstNumber + (i * 7919u) % kCacheSize, nullptr};
        pthread_mutex_lock(&mutex);
        const void* found =
            bsearch(&key, entries.data(), entries.size(), sizeof(Entry), compareEntries);
        pthread_mutex_unlock(&mutex);
        benchmark::DoNotOptimize(found);
        ++i;
    }
}
BENCHMARK(BM_MutexBsearchFloor);

// The same floor with the cache's own lock class, which checks its owner on every call: the
// share of the look-up that belongs to the object library's lock.
void BM_ZLockBsearch(benchmark::State& state) {
    std::vector<Entry> entries(kCacheSize);
    for (unsigned i = 0; i < kCacheSize; ++i) entries[i] = {kFirstNumber + i, "text"};
    ZLock_6_0 lock;
    unsigned i = 0;
    for (auto _ : state) {
        Entry key{kFirstNumber + (i * 7919u) % kCacheSize, nullptr};
        ZResourceLock_6_0 hold(lock);
        benchmark::DoNotOptimize(
            bsearch(&key, entries.data(), entries.size(), sizeof(Entry), compareEntries));
        ++i;
    }
}
BENCHMARK(BM_ZLockBsearch);

// The peer: catgets of one message from a catalog that is already open.
void BM_CatgetsOpenCatalog(benchmark::State& state) {
    std::string path = std::string(OV_NLS_MSG_DIR) + "/C/ovbas.cat";
    nl_catd catalog = catopen(path.c_str(), 0);
    if (catalog == reinterpret_cast<nl_catd>(-1)) {
        state.SkipWithError(("cannot open " + path).c_str());
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(catgets(catalog, 1, 0x065, "missing"));
    catclose(catalog);
}
BENCHMARK(BM_CatgetsOpenCatalog);

// ---- Random keys: the benchmark catalog of 2,000 messages ---------------------------------

constexpr unsigned kBenchCatalog = 0x7E57C000;
constexpr unsigned kBenchMessages = 2000;
constexpr unsigned kKeyCount = 1 << 12;

// The same pseudo-random message indexes (1..2000) for every benchmark that uses them.
const std::vector<unsigned>& randomKeys() {
    static const std::vector<unsigned> keys = [] {
        std::mt19937 rng(7);
        std::uniform_int_distribution<unsigned> pick(1, kBenchMessages);
        std::vector<unsigned> v(kKeyCount);
        for (auto& k : v) k = pick(rng);
        return v;
    }();
    return keys;
}

// Points the process at the benchmark catalog and fills both caches with all its texts.
void fillBenchCatalog() {
    static const bool filled = [] {
        std::string path = std::string(OV_BENCH_NLS) + "/%L/%N.cat";
        setenv("NLSPATH", path.c_str(), 1);
        for (unsigned i = 1; i <= kBenchMessages; ++i) {
            wv_i18n_msg(kBenchCatalog + i);
            wv_i18n_msg_utf8(kBenchCatalog + i);
        }
        return true;
    }();
    (void)filled;
}

// The peer: catgets of random keys from the open benchmark catalog.
void BM_CatgetsRandomKeys(benchmark::State& state) {
    std::string path = std::string(OV_BENCH_NLS) + "/C/ov7e57c.cat";
    nl_catd catalog = catopen(path.c_str(), 0);
    if (catalog == reinterpret_cast<nl_catd>(-1)) {
        state.SkipWithError(("cannot open " + path).c_str());
        return;
    }
    const std::vector<unsigned>& keys = randomKeys();
    unsigned i = static_cast<unsigned>(state.thread_index()) * 977u;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            catgets(catalog, 1, static_cast<int>(keys[i & (kKeyCount - 1)]), "missing"));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
    catclose(catalog);
}
BENCHMARK(BM_CatgetsRandomKeys)->Threads(1)->Threads(2)->UseRealTime();

// The same random keys through the cache, all of them cached.
void BM_WvI18nMsgCachedRandomKeys(benchmark::State& state) {
    const std::vector<unsigned>& keys = randomKeys();
    unsigned i = static_cast<unsigned>(state.thread_index()) * 977u;
    for (auto _ : state) {
        benchmark::DoNotOptimize(wv_i18n_msg(kBenchCatalog + keys[i & (kKeyCount - 1)]));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WvI18nMsgCachedRandomKeys)
    ->Setup([](const benchmark::State&) { fillBenchCatalog(); })
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

// First look-ups: state.range(0) numbers never asked before, of catalogs that do not exist,
// so that each becomes an "unknown" text. Every iteration takes a fresh range of numbers, so
// the cache keeps growing across iterations and repetitions.
void BM_WvI18nMsgFirstLookups(benchmark::State& state) {
    static unsigned next = 0x40000000;
    const unsigned n = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        for (unsigned i = 0; i < n; ++i) benchmark::DoNotOptimize(wv_i18n_msg(next + i));
        next += n;
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_WvI18nMsgFirstLookups)
    ->Arg(50000)
    ->Arg(400000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Inserts of state.range(0) distinct numbers in random order into a new cache. Each insert
// moves the entries after it in the sorted array, so the cost grows with the square of the
// count.
void BM_I18NCacheInsertRandom(benchmark::State& state) {
    const unsigned n = static_cast<unsigned>(state.range(0));
    std::vector<unsigned> numbers(n);
    for (unsigned i = 0; i < n; ++i) numbers[i] = i * 2654435761u;
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(3));
    for (auto _ : state) {
        I18NCache cache;
        for (unsigned number : numbers) cache.insert(number, "text");
        benchmark::DoNotOptimize(cache.match(numbers[0]));
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_I18NCacheInsertRandom)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// ---- The FIPS flag once settled, beside the floor of one acquire load --------------------

void BM_GetFIPSModeSettled(benchmark::State& state) {
    // Settled by the program, so the configuration is never read.
    setFIPSMode(0);
    for (auto _ : state) benchmark::DoNotOptimize(getFIPSMode());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetFIPSModeSettled)->Threads(1)->Threads(2)->UseRealTime();

std::atomic<int> settledFlag{0};

void BM_AtomicAcquireLoad(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(settledFlag.load(std::memory_order_acquire));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AtomicAcquireLoad)->Threads(1)->Threads(2)->UseRealTime();

// The same load behind a call that the compiler may not inline.
__attribute__((noinline)) int loadSettledFlag() {
    return settledFlag.load(std::memory_order_acquire);
}

void BM_AtomicAcquireLoadCall(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(loadSettledFlag());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AtomicAcquireLoadCall)->Threads(1)->Threads(2)->UseRealTime();

// The floor of any call into another shared library: a call through a pointer to the C
// library's pthread_self, whose body is one load.
pthread_t (*volatile libraryFunction)() = pthread_self;

void BM_SharedLibraryCallFloor(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(libraryFunction());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SharedLibraryCallFloor)->Threads(1)->Threads(2)->UseRealTime();

void BM_OvGetPathRelocated(benchmark::State& state) {
    ovutil_init();
    // Held by the table on every installation.
    const char* key = "/zel/selvan/common/cfg";
    for (auto _ : state) benchmark::DoNotOptimize(ov_get_path(key));
}
BENCHMARK(BM_OvGetPathRelocated);

void BM_OvGetPathUnknown(benchmark::State& state) {
    ovutil_init();
    const char* key = "/opt/Orvan/bin/not-in-the-table";
    for (auto _ : state) benchmark::DoNotOptimize(ov_get_path(key));
}
BENCHMARK(BM_OvGetPathUnknown);

// One run of the probe per iteration: with start-up, or loading the library only.
void runProbe(benchmark::State& state, const char* mode) {
    char* argv[] = {const_cast<char*>(OV_STARTUP_PROBE), const_cast<char*>(mode), nullptr};
    for (auto _ : state) {
        pid_t pid;
        if (posix_spawn(&pid, OV_STARTUP_PROBE, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start the probe");
            return;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the probe failed");
            return;
        }
    }
}

void BM_ProcessBare(benchmark::State& state) { runProbe(state, "--bare"); }
void BM_ProcessWithStartup(benchmark::State& state) { runProbe(state, "--full"); }
BENCHMARK(BM_ProcessBare)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessWithStartup)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
