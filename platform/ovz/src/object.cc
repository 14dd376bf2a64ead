// The root object and the library's allocator.
#include <ovz/object.h>

#include <pthread.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <typeinfo>

#include <ovz/exceptions.h>

#include "invariants.h"

void ovz_internal::invariantBroken(const char* what, const char* file, int line) noexcept {
    std::fprintf(stderr, "ovz: invariant broken at %s:%d: %s\n", file, line, what);
    std::abort();
}

ZObject_6_0::~ZObject_6_0() = default;

unsigned long ZObject_6_0::hash() const {
    // Objects are at least 8-byte aligned; drop the bits that never vary.
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this) >> 3);
}

int ZObject_6_0::compare(const ZObject_6_0& other) const {
    std::uintptr_t a = reinterpret_cast<std::uintptr_t>(this);
    std::uintptr_t b = reinterpret_cast<std::uintptr_t>(&other);
    return a < b ? -1 : (a > b ? 1 : 0);
}

ZObject_6_0* ZObject_6_0::clone() const {
    std::string what = std::string("clone is not supported by ") + typeid(*this).name();
    ZException_6_0(ZEXC_FAILURE, {what}).throwException(__FILE__, __LINE__);
}

bool ZObject_6_0::equals(const ZObject_6_0& other) const { return this == &other; }

namespace {

// ---- The allocator ---------------------------------------------------------------------
//
// Objects of up to kMaxPooled bytes (nearly all: strings with their text behind them, list
// and map entries) come from size classes instead of one malloc each. A class hands out
// blocks of one size, carved from 32 KiB chunks that are aligned to their size; a page map
// from chunk address to class tells operator delete, which is given no size, where a block
// belongs, and that a pointer outside every chunk came from malloc.
//
// Threads. Each thread keeps a cache of free blocks per class and works on it without a lock.
// A cache that runs dry takes a batch of blocks from the shared store; one that holds more
// than two batches gives one back. Blocks move between threads only through the store, under
// its mutex, so whatever a thread did with a block happens before the next owner gets it. An
// object may be freed by another thread than the one that made it: its block joins the
// freeing thread's cache. When a thread ends, its cache goes back to the store; objects freed
// after that (by later thread-exit or static destructors) go straight to the store.
//
// Memory. Chunks stay with the library once taken (freed blocks are reused by any thread for
// objects of the same class); larger objects are malloc'ed and freed at once.
//
// AddressSanitizer builds use malloc for every object, so that a use after free or a double
// free is reported with the object's own allocation and release.
#if defined(__SANITIZE_ADDRESS__)
#define OVZ_POOLED 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OVZ_POOLED 0
#endif
#endif
#ifndef OVZ_POOLED
#define OVZ_POOLED 1
#endif

#if OVZ_POOLED

constexpr unsigned kChunkShift = 15;
constexpr std::size_t kChunkSize = std::size_t{1} << kChunkShift;
constexpr std::size_t kMaxPooled = 512;

// Classes: every multiple of 8 from 16 to 256, then every multiple of 16 up to 512 (objects
// that carry texts behind them, such as a map entry with its values, are spread over that
// range). A block lies at a multiple of its size inside its chunk, so blocks whose size is a
// multiple of 16 are 16-aligned; a request whose size is a multiple of 16 lands in such a
// class, and any other size cannot be that of a type that needs more than 8.
constexpr unsigned classOf(std::size_t size) {
    if (size <= 256) return size <= 16 ? 0 : static_cast<unsigned>((size + 7) / 8 - 2);
    return static_cast<unsigned>(31 + (size - 257) / 16);
}
constexpr std::size_t classSize(unsigned c) { return c <= 30 ? (c + 2) * 8 : 256 + (c - 30) * 16; }
constexpr unsigned kClasses = classOf(kMaxPooled) + 1;
static_assert(classSize(kClasses - 1) == kMaxPooled && classSize(classOf(257)) == 272 &&
              classSize(classOf(272)) == 272 && classSize(classOf(273)) == 288);

// Blocks a cache takes from or gives back to the store at once: about 4 KiB, 8 to 64 blocks.
struct BatchTable {
    unsigned char blocks[kClasses];
    constexpr BatchTable() : blocks() {
        for (unsigned c = 0; c < kClasses; ++c) {
            std::size_t n = 4096 / classSize(c);
            blocks[c] = static_cast<unsigned char>(n < 8 ? 8 : (n > 64 ? 64 : n));
        }
    }
};
constexpr BatchTable kBatches;
inline unsigned batchOf(unsigned c) { return kBatches.blocks[c]; }

// A free block: the next free block, and (in the store) the next batch.
struct FreeBlock {
    FreeBlock* next;
    FreeBlock* nextBatch;
};

// Page map: one byte per chunk, class + 1 (0: not a chunk of this allocator), in leaves of
// 4 GiB of address space each, made on first use and never released. Addresses at or above
// 2^48 are never chunks.
constexpr unsigned kLeafShift = 32;
constexpr std::size_t kLeafEntries = std::size_t{1} << (kLeafShift - kChunkShift);
constexpr std::size_t kRootEntries = std::size_t{1} << (48 - kLeafShift);
unsigned char* g_pageRoot[kRootEntries];

int pooledClass(const void* p) noexcept {
    const auto a = reinterpret_cast<std::uintptr_t>(p);
    if ((a >> 48) != 0) return -1;
    unsigned char* leaf = __atomic_load_n(&g_pageRoot[a >> kLeafShift], __ATOMIC_ACQUIRE);
    if (leaf == nullptr) return -1;
    return __atomic_load_n(&leaf[(a >> kChunkShift) & (kLeafEntries - 1)], __ATOMIC_RELAXED) - 1;
}

// The shared store, under g_storeLock: full batches, loose blocks, and the unused rest of the
// class's newest chunk.
struct StoreClass {
    FreeBlock* batches;
    FreeBlock* loose;
    char* bump;
    char* bumpEnd;
};
pthread_mutex_t g_storeLock = PTHREAD_MUTEX_INITIALIZER;
StoreClass g_store[kClasses];
pthread_once_t g_forkOnce = PTHREAD_ONCE_INIT;

class StoreGuard {
public:
    StoreGuard() { pthread_mutex_lock(&g_storeLock); }
    ~StoreGuard() { pthread_mutex_unlock(&g_storeLock); }
    StoreGuard(const StoreGuard&) = delete;
    StoreGuard& operator=(const StoreGuard&) = delete;
};

// A child of fork must not inherit the store locked by a thread that does not exist there.
void lockStore() { pthread_mutex_lock(&g_storeLock); }
void unlockStore() { pthread_mutex_unlock(&g_storeLock); }
void installForkHandlers() { pthread_atfork(lockStore, unlockStore, unlockStore); }

// Takes a new chunk for class c and makes it the class's bump region. Lock held.
bool newChunk(unsigned c) {
    pthread_once(&g_forkOnce, installForkHandlers);
    void* chunk = std::aligned_alloc(kChunkSize, kChunkSize);
    if (chunk == nullptr) return false;
    const auto a = reinterpret_cast<std::uintptr_t>(chunk);
    if ((a >> 48) != 0) {
        std::free(chunk);
        return false;
    }
    unsigned char*& slot = g_pageRoot[a >> kLeafShift];
    unsigned char* leaf = slot;  // only written under the lock
    if (leaf == nullptr) {
        // Mapped rather than calloc'ed: the system hands out zero pages as they are first
        // touched, so a process that uses a few chunks pays for one page of the leaf, not for
        // clearing all 128 KiB of it.
        void* mapped = ::mmap(nullptr, kLeafEntries, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            std::free(chunk);
            return false;
        }
        leaf = static_cast<unsigned char*>(mapped);
        __atomic_store_n(&slot, leaf, __ATOMIC_RELEASE);
    }
    __atomic_store_n(&leaf[(a >> kChunkShift) & (kLeafEntries - 1)],
                     static_cast<unsigned char>(c + 1), __ATOMIC_RELAXED);
    g_store[c].bump = static_cast<char*>(chunk);
    g_store[c].bumpEnd = static_cast<char*>(chunk) + kChunkSize;
    return true;
}

// Up to `want` free blocks of class c, linked through `next`, into `head`; returns how many
// (0 when memory is exhausted). Lock held.
unsigned takeBlocks(unsigned c, unsigned want, FreeBlock*& head) {
    StoreClass& s = g_store[c];
    if (want == batchOf(c) && s.batches != nullptr) {
        head = s.batches;
        s.batches = head->nextBatch;
        return want;
    }
    if (s.loose == nullptr && s.batches != nullptr) {
        s.loose = s.batches;
        s.batches = s.batches->nextBatch;
    }
    if (s.loose != nullptr) {
        head = s.loose;
        FreeBlock* last = head;
        unsigned n = 1;
        for (; n < want && last->next != nullptr; ++n) last = last->next;
        s.loose = last->next;
        last->next = nullptr;
        return n;
    }
    const std::size_t size = classSize(c);
    if (static_cast<std::size_t>(s.bumpEnd - s.bump) < size && !newChunk(c)) return 0;
    std::size_t room = static_cast<std::size_t>(s.bumpEnd - s.bump) / size;
    unsigned n = room < want ? static_cast<unsigned>(room) : want;
    head = reinterpret_cast<FreeBlock*>(s.bump);
    FreeBlock* b = head;
    for (unsigned i = 1; i < n; ++i) {
        FreeBlock* following = reinterpret_cast<FreeBlock*>(reinterpret_cast<char*>(b) + size);
        b->next = following;
        b = following;
    }
    b->next = nullptr;
    s.bump += n * size;
    return n;
}

// Puts the `n` blocks linked from `head` back. Lock held.
void giveBlocks(unsigned c, FreeBlock* head, unsigned n) {
    StoreClass& s = g_store[c];
    if (n == batchOf(c)) {
        head->nextBatch = s.batches;
        s.batches = head;
        return;
    }
    FreeBlock* last = head;
    while (last->next != nullptr) last = last->next;
    last->next = s.loose;
    s.loose = head;
}

enum CacheState : unsigned char { kFresh = 0, kLive = 1, kRetired = 2 };

struct ThreadCache {
    FreeBlock* head[kClasses];
    unsigned count[kClasses];
    CacheState state;
};

// The calling thread's cache. Only this pointer lives in thread-local storage, in the
// initial-exec model (a plain load), which keeps the static TLS that the library needs at
// 8 bytes. A thread starts on the shared fresh cache and gets its own on its first pool
// operation; once that has gone back to the store (or could not be made) it points at the
// shared retired cache. The shared caches are empty and never written.
ThreadCache g_fresh = {{}, {}, kFresh};
ThreadCache g_retired = {{}, {}, kRetired};
__attribute__((tls_model("initial-exec"))) thread_local ThreadCache* t_cache = &g_fresh;

// Detaches the first `n` blocks of the cache's class c list (it holds at least n).
FreeBlock* detach(ThreadCache& tc, unsigned c, unsigned n) {
    FreeBlock* head = tc.head[c];
    FreeBlock* last = head;
    for (unsigned i = 1; i < n; ++i) last = last->next;
    tc.head[c] = last->next;
    last->next = nullptr;
    tc.count[c] -= n;
    return head;
}

void retireCache() noexcept {
    ThreadCache* tc = t_cache;
    t_cache = &g_retired;
    if (tc->state != kLive) return;
    {
        StoreGuard guard;
        for (unsigned c = 0; c < kClasses; ++c) {
            while (tc->count[c] != 0) {
                unsigned n = tc->count[c] < batchOf(c) ? tc->count[c] : batchOf(c);
                giveBlocks(c, detach(*tc, c, n), n);
            }
        }
    }
    std::free(tc);
}

struct CacheRetirer {
    ~CacheRetirer() { retireCache(); }
};

// The first pool operation of a thread makes its cache and arranges for it to go back to the
// store when the thread ends.
ThreadCache* makeCache() noexcept {
    auto* tc = static_cast<ThreadCache*>(std::calloc(1, sizeof(ThreadCache)));
    if (tc == nullptr) return t_cache = &g_retired;
    tc->state = kLive;
    t_cache = tc;
    static thread_local CacheRetirer retirer;
    (void)retirer;
    return tc;
}

// Everything but taking a block from a non-empty list of a live cache.
__attribute__((noinline)) void* allocateSlow(std::size_t size) noexcept {
    if (size > kMaxPooled) return std::malloc(size);
    const unsigned c = classOf(size);
    ThreadCache* tc = t_cache;
    if (tc->state == kFresh) tc = makeCache();
    const bool live = tc->state == kLive;
    FreeBlock* head = nullptr;
    unsigned n;
    {
        StoreGuard guard;
        n = takeBlocks(c, live ? batchOf(c) : 1, head);
    }
    if (n == 0) return nullptr;
    if (live) {
        tc->head[c] = head->next;
        tc->count[c] = n - 1;
    }
    return head;
}

inline void* allocate(std::size_t size) noexcept {
    if (size <= kMaxPooled) {
        ThreadCache* const tc = t_cache;
        const unsigned c = classOf(size);
        FreeBlock* const b = tc->head[c];
        if (b != nullptr) {
            tc->head[c] = b->next;
            --tc->count[c];
            return b;
        }
    }
    return allocateSlow(size);
}

// Gives a block back when the thread has no live cache of its own (yet or any more).
__attribute__((noinline)) void releaseWithoutCache(FreeBlock* b, unsigned c) noexcept {
    ThreadCache* tc = t_cache;
    if (tc->state == kFresh) tc = makeCache();
    if (tc->state == kLive) {
        b->next = tc->head[c];
        tc->head[c] = b;
        ++tc->count[c];
        return;
    }
    StoreGuard guard;
    b->next = nullptr;
    giveBlocks(c, b, 1);
}

// Moves one batch from a cache that holds too many blocks of class c to the store.
__attribute__((noinline)) void flush(ThreadCache* tc, unsigned c) noexcept {
    const unsigned n = batchOf(c);
    FreeBlock* batch = detach(*tc, c, n);
    StoreGuard guard;
    giveBlocks(c, batch, n);
}

inline void release(void* p) noexcept {
    if (p == nullptr) return;
    const int pc = pooledClass(p);
    if (pc < 0) {
        std::free(p);  // malloc'ed
        return;
    }
    const auto c = static_cast<unsigned>(pc);
    auto* const b = static_cast<FreeBlock*>(p);
    ThreadCache* const tc = t_cache;
    if (tc->state != kLive) {
        releaseWithoutCache(b, c);
        return;
    }
    b->next = tc->head[c];
    tc->head[c] = b;
    if (++tc->count[c] > 2u * batchOf(c)) flush(tc, c);
}

#else  // !OVZ_POOLED

inline void* allocate(std::size_t size) noexcept { return std::malloc(size); }
inline void release(void* p) noexcept { std::free(p); }

#endif  // OVZ_POOLED

// The hook of ovz_set_allocation_failure_hook; null (nearly always) when none is set.
ZAllocationFailureHook_6_0 g_failureHook = nullptr;

__attribute__((noinline)) bool failedByHook(std::size_t size) noexcept {
    const ZAllocationFailureHook_6_0 hook = __atomic_load_n(&g_failureHook, __ATOMIC_ACQUIRE);
    return hook != nullptr && hook(size);
}

// Every object has at least one byte, so that distinct objects have distinct addresses.
inline void* allocateObject(std::size_t size) noexcept {
    if (__builtin_expect(__atomic_load_n(&g_failureHook, __ATOMIC_RELAXED) != nullptr, 0) &&
        failedByHook(size))
        return nullptr;
    return allocate(size == 0 ? 1 : size);
}

void* allocateObjectOrThrow(std::size_t size) {
    void* p = allocateObject(size);
    if (p == nullptr) ZOutOfMemoryException_6_0().throwException(__FILE__, __LINE__);
    return p;
}

}  // namespace

void* ZObject_6_0::operator new(std::size_t size) { return allocateObjectOrThrow(size); }
void* ZObject_6_0::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocateObject(size);
}
void* ZObject_6_0::operator new[](std::size_t size) { return allocateObjectOrThrow(size); }
void* ZObject_6_0::operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocateObject(size);
}
void ZObject_6_0::operator delete(void* p) noexcept { release(p); }
void ZObject_6_0::operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void ZObject_6_0::operator delete[](void* p) noexcept { release(p); }
void ZObject_6_0::operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

void ovz_set_allocation_failure_hook(ZAllocationFailureHook_6_0 hook) noexcept {
    __atomic_store_n(&g_failureHook, hook, __ATOMIC_RELEASE);
}
