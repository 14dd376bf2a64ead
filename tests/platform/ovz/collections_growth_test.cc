// Lists grown again and again by small batches (ensureCapacity of a little more than they
// hold, then the adds; addTexts to a list that holds texts already), as decoders grow the
// value list of a name that recurs, allocate a logarithmic number of times, not once per
// batch: every growth past the first array is at least twofold. Counted with the harness's
// replacement of malloc, which the object library's arrays of more than a few hundred bytes
// come from (without one, under a sanitizer, the tests are skipped).
#include <ovz/collections.h>
#include <ovz/strings.h>

#include <gtest/gtest.h>

#include <string>

#include "harness/failing_alloc.h"

namespace {

constexpr unsigned long kBatches = 100000;
// Twofold growth to 100,000 elements takes 17 arrays; the strings' own memory comes in chunks
// of the object allocator (some 15 allocations in all). One array per batch is 50,000 or more.
constexpr long kMostAllocations = 100;

TEST(ListGrowth, EnsureCapacityByOneMoreGrowsGeometrically) {
    if (!ovtest::canFailAllocations()) GTEST_SKIP() << "a sanitizer's allocator";
    ZUTF8String_6_0 element("v");
    ZArrayList_6_0 list(2, 0);  // non-owning: only the array is allocated
    long allocations;
    {
        ovtest::FailingAllocations count(1L << 40);  // counts, never fails
        for (unsigned long i = 0; i < kBatches; ++i) {
            list.ensureCapacity(list.size() + 1);
            list.add(element);
        }
        allocations = count.attempts();
    }
    EXPECT_LE(allocations, kMostAllocations);
    ASSERT_EQ(list.size(), kBatches);
    EXPECT_EQ(list.get(0), &element);
    EXPECT_EQ(list.get(kBatches - 1), &element);
}

TEST(ListGrowth, TextBatchesGrowGeometrically) {
    if (!ovtest::canFailAllocations()) GTEST_SKIP() << "a sanitizer's allocator";
    // Batches of one text and of two (a packed list first, then objects of their own).
    for (unsigned long batch : {1ul, 2ul}) {
        SCOPED_TRACE(batch);
        const ZArrayList_6_0::Text texts[2] = {{"a", 1}, {"bc", 2}};
        ZArrayList_6_0 list(1, 1);
        long allocations;
        {
            ovtest::FailingAllocations count(1L << 40);
            for (unsigned long i = 0; i < kBatches / batch; ++i) list.addTexts(texts, batch);
            allocations = count.attempts();
        }
        EXPECT_LE(allocations, kMostAllocations);
        ASSERT_EQ(list.size(), kBatches);
        for (unsigned long i : {0ul, 1ul, kBatches - 2, kBatches - 1}) {
            const auto* text = static_cast<const ZUTF8String_6_0*>(list.get(i));
            EXPECT_STREQ(text->c_str(), batch == 1 || i % 2 == 0 ? "a" : "bc") << i;
        }
    }
}

}  // namespace
