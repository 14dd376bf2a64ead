// Private: the storage of the stanza document's large arrays and of the bytes of a file read
// whole.
//
// Arrays of 2 MiB and more are mapped by themselves, aligned to 2 MiB and advised to use
// transparent huge pages where the system offers them on request: a file of hundreds of
// thousands of lines then costs a few page faults instead of one per 4 KiB, which otherwise
// makes up a third of its load. Smaller arrays come from the ordinary heap.
//
// A file is read straight into a ByteBuffer, whose growth leaves the new bytes uncleared:
// clearing ten megabytes first, only for read(2) to overwrite them, costs as much as a second
// copy of the file.
#ifndef OVZ_SRC_BYTE_BUFFER_H
#define OVZ_SRC_BYTE_BUFFER_H

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace ovz_properties {

constexpr size_t kLargeArray = size_t{2} << 20;

inline size_t roundedToLarge(size_t bytes) {
    return (bytes + kLargeArray - 1) & ~(kLargeArray - 1);
}

// Throws std::bad_alloc.
inline void* allocateLarge(size_t bytes) {
    if (bytes > SIZE_MAX - 2 * kLargeArray) throw std::bad_alloc();
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

// `bytes` as allocated.
inline void releaseLarge(void* p, size_t bytes) { ::munmap(p, roundedToLarge(bytes)); }

template <class T>
struct LargeArrayAllocator {
    using value_type = T;
    LargeArrayAllocator() = default;
    template <class U>
    LargeArrayAllocator(const LargeArrayAllocator<U>&) {}
    T* allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        if (n * sizeof(T) < kLargeArray) return std::allocator<T>().allocate(n);
        return static_cast<T*>(allocateLarge(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) {
        if (n * sizeof(T) < kLargeArray) {
            std::allocator<T>().deallocate(p, n);
        } else {
            releaseLarge(p, n * sizeof(T));
        }
    }
    template <class U>
    bool operator==(const LargeArrayAllocator<U>&) const {
        return true;
    }
};

// LargeArrayAllocator, except that an element made without a value is default-initialised
// (for char: left as it is) instead of value-initialised (zeroed).
template <class T>
struct UninitializedAllocator : LargeArrayAllocator<T> {
    template <class U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <class U>
    UninitializedAllocator(const UninitializedAllocator<U>&) {}

    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const UninitializedAllocator<U>&) const {
        return true;
    }
};

using ByteBuffer = std::vector<char, UninitializedAllocator<char>>;

}  // namespace ovz_properties

#endif  // OVZ_SRC_BYTE_BUFFER_H
