// Allocations that fail on demand, for tests of what a call does when memory runs out.
//
// A test program that links the object library `ov_failing_alloc` gets malloc, calloc and
// realloc replaced by versions that forward to the C library's own, except while the calling
// thread holds a FailingAllocations: then every allocation from the `after`-th on fails
// (returns null), so operator new throws std::bad_alloc and the object library throws its
// out-of-memory exception. With kAlsoObjects, the object library's own allocator
// (ZObject_6_0::operator new, whose pooled blocks rarely reach malloc) fails by the same
// count, through its failure hook, and in every build. Other threads are not affected.
//
//   if (!ovtest::canFailAllocations()) GTEST_SKIP() << "...";
//   const char* text;
//   {
//       ovtest::FailingAllocations fail;      // from the first allocation on
//       text = wv_i18n_msg(0x7E57A0FE);
//   }
//   EXPECT_EQ(text, nullptr);
//
// A sanitizer brings an allocator of its own, which cannot be replaced this way: under one,
// canFailAllocations() is false and malloc never fails; the object allocator's do.
#ifndef OV_TESTS_HARNESS_FAILING_ALLOC_H
#define OV_TESTS_HARNESS_FAILING_ALLOC_H

namespace ovtest {

// Whether this program's allocations can be made to fail.
bool canFailAllocations();

// Which allocations a FailingAllocations fails: those of malloc, calloc and realloc, or those
// and the object library's.
enum Allocators { kMalloc, kAlsoObjects };

// While it lives, the calling thread's allocations fail from the `after`-th on (0: the next
// one). Not nested.
class FailingAllocations {
public:
    explicit FailingAllocations(long after = 0, Allocators which = kMalloc);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;

    // Allocations asked for since construction, failed or not.
    long attempts() const;

private:
    bool objects_;
};

// While it lives, inside a FailingAllocations, the calling thread's allocations succeed again
// and are not counted: for a test's own bookkeeping, such as a capture callback that copies a
// record.
class AllowAllocations {
public:
    AllowAllocations();
    ~AllowAllocations();
    AllowAllocations(const AllowAllocations&) = delete;
    AllowAllocations& operator=(const AllowAllocations&) = delete;

private:
    bool wasFailing_;
};

}  // namespace ovtest

#endif  // OV_TESTS_HARNESS_FAILING_ALLOC_H
