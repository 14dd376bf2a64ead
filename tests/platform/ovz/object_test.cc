// The root object and its allocator: every object of the object library comes from
// ZObject_6_0's allocator (size classes with per-thread free lists for small objects, malloc
// for large ones), so a block that were too small, misaligned or handed out twice would
// corrupt every collection and map.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <set>
#include <vector>

#include <ovz/collections.h>
#include <ovz/exceptions.h>
#include <ovz/object.h>

// Huge requests must come back as null (or as the library's exception), not abort the test.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

TEST(ObjectAllocator, BlocksOfEverySizeAreDistinctAlignedAndKeepTheirBytes) {
    struct Block {
        unsigned char* p;
        size_t size;
        unsigned char fill;
    };
    std::vector<Block> blocks;
    // Sizes up to past the largest size class, several blocks each, all alive at once.
    for (size_t size = 0; size <= 600; size += (size < 300 ? 1 : 7)) {
        for (int copy = 0; copy < 5; ++copy) {
            auto* p = static_cast<unsigned char*>(ZObject_6_0::operator new(size));
            const auto address = reinterpret_cast<std::uintptr_t>(p);
            ASSERT_EQ(address % 8, 0u) << size;
            // A size that is a multiple of 16 may hold a type that needs 16.
            if (size % 16 == 0) {
                ASSERT_EQ(address % 16, 0u) << size;
            }
            unsigned char fill = static_cast<unsigned char>(blocks.size() * 31 + 7);
            std::memset(p, fill, size);
            blocks.push_back({p, size, fill});
        }
    }
    std::set<unsigned char*> distinct;
    for (const Block& b : blocks) {
        distinct.insert(b.p);
        for (size_t i = 0; i < b.size; ++i)
            ASSERT_EQ(b.p[i], b.fill) << "size " << b.size << " byte " << i;
    }
    EXPECT_EQ(distinct.size(), blocks.size());
    // Free every other block, take new ones of the same sizes, and check the survivors.
    for (size_t i = 0; i < blocks.size(); i += 2) ZObject_6_0::operator delete(blocks[i].p);
    std::vector<unsigned char*> fresh;
    for (size_t i = 0; i < blocks.size(); i += 2) {
        auto* p = static_cast<unsigned char*>(ZObject_6_0::operator new(blocks[i].size));
        std::memset(p, 0xEE, blocks[i].size);
        fresh.push_back(p);
    }
    for (size_t i = 1; i < blocks.size(); i += 2) {
        for (size_t k = 0; k < blocks[i].size; ++k) ASSERT_EQ(blocks[i].p[k], blocks[i].fill);
        ZObject_6_0::operator delete(blocks[i].p);
    }
    for (unsigned char* p : fresh) ZObject_6_0::operator delete(p);
    ZObject_6_0::operator delete(nullptr);  // as delete of a null pointer
}

TEST(Object, RootCloneThrowsInsteadOfReturningNothing) {
    struct Plain : ZObject_6_0 {};
    Plain p;
    try {
        delete p.clone();
        FAIL() << "clone of a class without clone returned";
    } catch (ZException_6_0& e) {
        EXPECT_EQ(e.kind(), ZEXC_FAILURE);
    }
    ZArrayList_6_0 owning(1, 1);
    EXPECT_THROW(owning.add(p), ZException_6_0);
    EXPECT_EQ(owning.size(), 0u);
}

TEST(Object, RootIdentity) {
    struct Plain : ZObject_6_0 {};
    Plain a, b;
    EXPECT_TRUE(a.equals(a));
    EXPECT_FALSE(a.equals(b));
    EXPECT_EQ(a.compare(a), 0);
    EXPECT_EQ(a.compare(b), -b.compare(a));
    EXPECT_NE(a.compare(b), 0);
}

TEST(ObjectAllocator, ReportsExhaustedMemory) {
    EXPECT_EQ(ZObject_6_0::operator new(SIZE_MAX / 2, std::nothrow), nullptr);
    EXPECT_THROW(ZObject_6_0::operator new(SIZE_MAX / 2), ZOutOfMemoryException_6_0);
    void* p = ZObject_6_0::operator new(0);
    EXPECT_NE(p, nullptr);
    ZObject_6_0::operator delete(p);
}

}  // namespace
