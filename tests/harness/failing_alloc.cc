// The replaced allocation functions behind failing_alloc.h.
#include "harness/failing_alloc.h"

#include <cstddef>

#include <ovz/object.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OV_FAILING_ALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OV_FAILING_ALLOC 0
#endif
#endif
#ifndef OV_FAILING_ALLOC
#define OV_FAILING_ALLOC 1
#endif

namespace {

// Per thread, so that a test's other threads (and the test framework's) allocate normally.
// Plain data with constant initialisation: reading it never allocates.
struct Plan {
    bool failing;
    long after;
    long attempts;
};
thread_local Plan plan = {false, 0, 0};

}  // namespace

namespace {

bool failThisOne() {
    if (!plan.failing) return false;
    return plan.attempts++ >= plan.after;
}

// The object allocator's hook: its allocations fail by the same plan as malloc's.
bool failThisObject(std::size_t) { return failThisOne(); }

}  // namespace

#if OV_FAILING_ALLOC
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);

void* malloc(std::size_t size) { return failThisOne() ? nullptr : __libc_malloc(size); }

void* calloc(std::size_t count, std::size_t size) {
    return failThisOne() ? nullptr : __libc_calloc(count, size);
}

// A failed realloc leaves the old block as it was, as the C library's does.
void* realloc(void* old, std::size_t size) {
    return failThisOne() ? nullptr : __libc_realloc(old, size);
}
}  // extern "C"
#endif

namespace ovtest {

bool canFailAllocations() { return OV_FAILING_ALLOC != 0; }

FailingAllocations::FailingAllocations(long after, Allocators which)
    : objects_(which == kAlsoObjects) {
    plan = {true, after, 0};
    if (objects_) ovz_set_allocation_failure_hook(failThisObject);
}
FailingAllocations::~FailingAllocations() {
    plan.failing = false;
    if (objects_) ovz_set_allocation_failure_hook(nullptr);
}
long FailingAllocations::attempts() const { return plan.attempts; }

AllowAllocations::AllowAllocations() : wasFailing_(plan.failing) { plan.failing = false; }
AllowAllocations::~AllowAllocations() { plan.failing = wasFailing_; }

}  // namespace ovtest
