// IdIndex, the stanza document's open-addressing index of stanzas and keys by name.

#include "stanza_document.h"

#include <cstdint>
#include <new>

namespace ovz_stanza {

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
