// The memory a map's objects live in: every object of the object library comes from its
// allocator (size classes with per-thread free lists for small objects, malloc for large
// ones), so a block that were too small, misaligned or handed out twice would corrupt maps.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include <ovutil/NameValueMap.h>

#if defined(__SANITIZE_ADDRESS__)
#define NVM_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NVM_TEST_ASAN 1
#endif
#endif

namespace {

TEST(NameValueMapMemory, BlocksOfEverySizeAreDistinctAlignedAndKeepTheirBytes) {
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

TEST(NameValueMapMemory, UseOfARemovedValueIsReportedUnderAddressSanitizer) {
#ifndef NVM_TEST_ASAN
    GTEST_SKIP() << "only an AddressSanitizer build can observe a use after free";
#else
    EXPECT_DEATH(
        {
            NameValueMap map;
            map.addString("n", "a value that is removed");
            const char* text = map.getString("n", 0)->getChars();
            map.removeValue("n", 0);
            volatile char c = text[0];
            (void)c;
        },
        "heap-use-after-free");
#endif
}

// Decoded values may share one allocation with their list; a removed one must still be
// reported when it is used afterwards.
TEST(NameValueMapMemory, UseOfARemovedDecodedValueIsReportedUnderAddressSanitizer) {
#ifndef NVM_TEST_ASAN
    GTEST_SKIP() << "only an AddressSanitizer build can observe a use after removal";
#else
    NameValueMap source;
    source.addString("n", "a value that is removed");
    source.addString("n", "a value that stays");
    ov_asn_buffer_t wire = {0, nullptr};
    unsigned long status = 1;
    source.encode(wire, status);
    ASSERT_EQ(status, 0u);
    EXPECT_DEATH(
        {
            NameValueMap map;
            unsigned long decoded = 1;
            map.decode(wire, decoded);
            const char* text = map.getString("n", 0)->getChars();
            map.removeValue("n", 0);
            volatile char c = text[0];
            (void)c;
        },
        "use-after-poison|heap-use-after-free");
    // Decoded keys live in storage of the map's own: a read of one after the map was emptied
    // is reported too.
    EXPECT_DEATH(
        {
            NameValueMap map;
            unsigned long decoded = 1;
            map.decode(wire, decoded);
            ZArrayList_6_0 names(2, 0);
            map.getNames(names);
            const auto* key = static_cast<const ZUTF8String_6_0*>(names.get(0));
            ASSERT_STREQ(key->getChars(), "n");
            map.removeAll();
            volatile std::size_t n = key->length();
            (void)n;
        },
        "use-after-poison|heap-use-after-free");
    ov_asn_buffer_free(wire);
#endif
}

}  // namespace
