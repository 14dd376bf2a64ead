// The stanza document's storage: its allocator of large per-line arrays (huge pages where the
// system offers them) and IdIndex, the open-addressing index of stanzas and keys by name.

#include "stanza_document.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace ovz_stanza {

// ---- large arrays -----------------------------------------------------------------------

namespace {
size_t roundedToLarge(size_t bytes) { return (bytes + kLargeArray - 1) & ~(kLargeArray - 1); }
}  // namespace

void* allocateLarge(size_t bytes) {
    const size_t size = roundedToLarge(bytes);
    // Map one huge page more than needed and cut the mapping down to an aligned range: huge
    // pages need 2 MiB alignment, which mmap does not promise.
    void* p = ::mmap(nullptr, size + kLargeArray, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + kLargeArray - 1) & ~(uintptr_t{kLargeArray} - 1);
    if (aligned > start) ::munmap(p, aligned - start);
    const size_t tail = start + size + kLargeArray - (aligned + size);
    if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
#ifdef MADV_HUGEPAGE
    ::madvise(reinterpret_cast<void*>(aligned), size,
              MADV_HUGEPAGE);  // advice only: failure changes nothing
#endif
    return reinterpret_cast<void*>(aligned);
}

void releaseLarge(void* p, size_t bytes) { ::munmap(p, roundedToLarge(bytes)); }

// ---- IdIndex ----------------------------------------------------------------------------

void IdIndex::grow(size_t capacity) {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(capacity, Slot{0, kNone});
    mask_ = capacity - 1;
    for (const Slot& s : old) {
        if (s.id == kNone) continue;
        size_t i = s.hash & mask_;
        while (slots_[i].id != kNone) i = (i + 1) & mask_;
        slots_[i] = s;
    }
}

void IdIndex::reserve(size_t n) {
    size_t cap = 16;
    while (cap * 3 < n * 4) cap <<= 1;
    if (cap > slots_.size()) grow(cap);
}

void IdIndex::insert(uint32_t hash, uint32_t id) {
    // A load factor of at most 3/4 keeps probe runs short with a well-mixed hash, and the
    // table small enough to stay in cache for files of ten thousand keys.
    if ((size_ + 1) * 4 > slots_.size() * 3) grow(slots_.empty() ? 16 : slots_.size() * 2);
    size_t i = hash & mask_;
    while (slots_[i].id != kNone) i = (i + 1) & mask_;
    slots_[i] = Slot{hash, id};
    ++size_;
}

void IdIndex::erase(uint32_t hash, uint32_t id) {
    if (slots_.empty()) return;
    size_t i = hash & mask_;
    while (slots_[i].id != id) {
        if (slots_[i].id == kNone) return;
        i = (i + 1) & mask_;
    }
    // Backward-shift: move later members of the probe run into the hole so that no
    // tombstones are needed.
    size_t hole = i;
    for (size_t j = (hole + 1) & mask_; slots_[j].id != kNone; j = (j + 1) & mask_) {
        size_t home = slots_[j].hash & mask_;
        bool movable = (hole <= j) ? (home <= hole || home > j) : (home <= hole && home > j);
        if (movable) {
            slots_[hole] = slots_[j];
            hole = j;
        }
    }
    slots_[hole] = Slot{0, kNone};
    --size_;
}

}  // namespace ovz_stanza
