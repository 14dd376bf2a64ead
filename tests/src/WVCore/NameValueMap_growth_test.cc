// A name that recurs in many records of one buffer: decoding appends each record's values to
// the name's list, which must grow geometrically (a logarithmic number of arrays), not to the
// exact size each record needs (one array per record, quadratic in all). Counted with the
// harness's replacement of malloc, which the large arrays come from; skipped under a
// sanitizer, whose allocator cannot be replaced.

#include <string>

#include <gtest/gtest.h>

#include <ovutil/NameValueMap.h>

#include "harness/failing_alloc.h"

namespace {

// A DER element: tag, definite length, content.
std::string element(unsigned char tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    const std::size_t n = content.size();
    if (n < 0x80) {
        out += static_cast<char>(n);
    } else {
        int bytes = 0;
        for (std::size_t l = n; l != 0; l >>= 8) ++bytes;
        out += static_cast<char>(0x80 | bytes);
        for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(n >> (8 * i));
    }
    return out + content;
}

// `records` records of the name "n", each with the values v0 .. v<perRecord - 1>.
std::string repeatedName(unsigned records, unsigned perRecord) {
    std::string values;
    for (unsigned v = 0; v < perRecord; ++v) values += element(0x0C, "v" + std::to_string(v));
    const std::string record =
        element(0x30, element(0x0C, "n") + element(0x30, values) + element(0x30, ""));
    std::string all;
    for (unsigned r = 0; r < records; ++r) all += record;
    return element(0x30, all);
}

TEST(NameValueMapGrowth, RecordsOfOneNameGrowItsListGeometrically) {
    if (!ovtest::canFailAllocations()) GTEST_SKIP() << "a sanitizer's allocator";
    // Up to the records' batch of values made in one piece, and past it (each value then
    // an object of its own).
    for (unsigned perRecord : {1u, 3u, 100u}) {
        SCOPED_TRACE(perRecord);
        const unsigned records = 60000 / perRecord;
        std::string wire = repeatedName(records, perRecord);
        ov_asn_buffer_t in = {static_cast<unsigned int>(wire.size()),
                              reinterpret_cast<unsigned char*>(wire.data())};
        NameValueMap map;
        unsigned long status = 1;
        long allocations;
        {
            ovtest::FailingAllocations count(1L << 40);  // counts, never fails
            map.decode(in, status);
            allocations = count.attempts();
        }
        ASSERT_EQ(status, 0u);
        // Twofold growth to 60,000 values takes some 16 arrays; the values' own memory comes
        // in chunks of the object allocator (some 25 allocations in all). One array per record
        // would be `records` (600 or more).
        EXPECT_LE(allocations, 100);
        ASSERT_EQ(map.getValueCount("n"), records * perRecord);
        for (unsigned i : {0u, perRecord - 1, records * perRecord - 1}) {
            const ZUTF8String_6_0* value = map.getString("n", i);
            ASSERT_NE(value, nullptr) << i;
            EXPECT_EQ(std::string(value->c_str()), "v" + std::to_string(i % perRecord)) << i;
        }
    }
}

}  // namespace
