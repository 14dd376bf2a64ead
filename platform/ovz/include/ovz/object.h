// The root of the object and collection library.
//
// Every class of this library that is stored in a collection derives from ZObject_6_0. The
// collections work on objects only through the virtual operations declared here: `hash` and
// `equals` place and find keys, `clone` makes the copies that owning collections keep.
//
// Conventions of the whole library:
//  1. Objects are allocated with ZObject_6_0's class-level operator new and released with its
//     operator delete, never with malloc/free. Small objects come from per-size free lists
//     with a cache per thread (no malloc call and no malloc header each); an object may be
//     deleted by another thread than the one that made it. A throwing `new` raises
//     ZOutOfMemoryException_6_0 when memory runs out; `new (std::nothrow)` yields null.
//  2. An object is used by one thread at a time unless its header says otherwise.
//  3. Failures are reported by throwing ZException_6_0 or a subclass (<ovz/exceptions.h>).
#ifndef OVZ_OBJECT_H
#define OVZ_OBJECT_H

#include <cstddef>
#include <new>

#include <ovz/export.h>

// The root class: identity, hashing, cloning and the allocator of every object (see the
// conventions above).
class OVZ_EXPORT ZObject_6_0 {
public:
    ZObject_6_0() = default;
    // The root holds no state: copying copies nothing of its own.
    ZObject_6_0(const ZObject_6_0&) = default;
    // Assigns nothing of its own, as the copy constructor.
    ZObject_6_0& operator=(const ZObject_6_0&) = default;

    // The virtual slots, in this order: destructors, hash, compare, clone, equals. Derived
    // classes of other components rely on this order; do not insert virtuals before `equals`.
    virtual ~ZObject_6_0();

    // A hash consistent with `equals`: objects that are equal have the same hash. The root's
    // hash is derived from the object's address (identity).
    virtual unsigned long hash() const;

    // Orders this object against `other`: negative, 0 or positive. The root orders by address,
    // so it returns 0 only for the same object.
    virtual int compare(const ZObject_6_0& other) const;

    // A new object, allocated with ZObject_6_0::operator new, equal to this one; the caller
    // owns it. The root cannot know the dynamic type's copy, so it throws ZException_6_0 of
    // kind ZEXC_FAILURE ("%s": the class has no clone); every class that is meant to be stored
    // in an owning collection overrides it.
    virtual ZObject_6_0* clone() const;

    // True when `other` is equal to this object. The root compares identity (same address);
    // strings compare their bytes, lists and maps their elements.
    virtual bool equals(const ZObject_6_0& other) const;

    // The allocator of all objects of the library (see convention 1). Thread-safe.
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void* operator new[](std::size_t size);
    static void* operator new[](std::size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* p) noexcept;
    static void operator delete(void* p, const std::nothrow_t&) noexcept;
    static void operator delete[](void* p) noexcept;
    static void operator delete[](void* p, const std::nothrow_t&) noexcept;
};

// For tests of what the library and its callers do when memory runs out: while a hook is
// set, every allocation of ZObject_6_0's operator new (objects, and the arrays and tables of
// the collections) first calls it with the size asked for, and fails when it returns true:
// the throwing form raises ZOutOfMemoryException_6_0 and the nothrow form yields null, as
// when memory is exhausted. One hook for the process, called from every thread that
// allocates (it is read atomically, so it may be set and removed while others allocate);
// it must not allocate objects itself. A null hook removes it. A hook that fails only what
// the calling thread asks for (a plan in thread-local storage) leaves other threads alone.
using ZAllocationFailureHook_6_0 = bool (*)(std::size_t size);
extern "C" {
// Sets the process's allocation failure hook (see above); null removes it.
OVZ_EXPORT void ovz_set_allocation_failure_hook(ZAllocationFailureHook_6_0 hook) noexcept;
}

#endif  // OVZ_OBJECT_H
