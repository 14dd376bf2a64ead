// Message text look-ups beside the floor that the cache's lock sets and beside catgets on an
// open catalog; path look-ups; and whole-process start-up, measured as repeated process runs.

#include <nl_types.h>
#include <pthread.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <ovutil/PathMap.h>
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
        const void* found = bsearch(&key, entries.data(), entries.size(), sizeof(Entry), compareEntries);
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
