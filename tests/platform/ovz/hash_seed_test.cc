// The strings' hash, which the hash maps place keys by, is keyed with a secret of the process:
// it differs between processes, agrees between the string classes within one, and texts made
// to collide in an unkeyed multiply-xor hash spread as any others do.
#include <ovz/collections.h>
#include <ovz/strings.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::string probeOutput() {
    FILE* pipe = ::popen(OVZ_HASH_PROBE, "r");
    if (pipe == nullptr) return "";
    char line[64] = "";
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    const int status = ::pclose(pipe);
    return read && status == 0 ? line : "";
}

TEST(HashSeed, DiffersBetweenProcesses) {
    const std::string first = probeOutput();
    const std::string second = probeOutput();
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    // The same text hashes differently in another process (but for a chance of 2^-64).
    EXPECT_NE(first, second);
}

TEST(HashSeed, StringClassesAgreeWithinAProcess) {
    for (const char* text :
         {"", "a", "abc", "member", "sixteen-byte-key", "a longer text of 33 bytes in all"}) {
        SCOPED_TRACE(text);
        const unsigned long h = ZUTF8String_6_0(text).hash();
        EXPECT_EQ(ZUTF8ConstString_6_0(text).hash(), h);
        EXPECT_EQ(ZUTF8String_6_0(text).hash(), h);
    }
}

// 16-byte texts that all collide in h = ((h ^ w) * C) ^ shift, word by word: the second word
// is solved from the state after the first.
std::vector<std::string> unkeyedCollisions(std::size_t n) {
    const auto step = [](std::uint64_t h, std::uint64_t w) {
        h = (h ^ w) * 0xFF51AFD7ED558CCDu;
        return h ^ (h >> 29);
    };
    std::vector<std::string> out;
    for (std::uint64_t i = 1; out.size() < n; ++i) {
        const std::uint64_t first = 0x4141414141414141u + i;  // "BAAAAAAA", "CAAAAAAA", ...
        const std::uint64_t second = step(0x9E3779B97F4A7C15u ^ 16, first) ^ 0x5F5F5F5F5F5F5F5Fu;
        std::string text(16, '\0');
        std::memcpy(&text[0], &first, 8);
        std::memcpy(&text[8], &second, 8);
        if (text.find('\0') == std::string::npos) out.push_back(text);
    }
    return out;
}

TEST(HashSeed, CraftedCollisionsSpread) {
    const std::vector<std::string> texts = unkeyedCollisions(4096);
    std::set<unsigned long> hashes;
    std::vector<int> buckets(1024);
    for (const std::string& text : texts) {
        const unsigned long h = ZUTF8String_6_0(text.c_str()).hash();
        hashes.insert(h);
        ++buckets[h & 1023];
        ++buckets[(h >> 54) & 1023];
    }
    EXPECT_EQ(hashes.size(), texts.size());
    // 8192 placements into 1024 buckets: 8 on average; a uniform hash puts well under 40 into
    // the fullest one.
    int fullest = 0;
    for (int b : buckets) fullest = b > fullest ? b : fullest;
    EXPECT_LT(fullest, 40);

    // And a map of them keeps its listing order and finds each.
    ZHashKeyMap_6_0 map(1, 1);
    for (const std::string& text : texts)
        map.putEntry(ZUTF8String_6_0(text.c_str()), ZUTF8String_6_0("v"));
    ZArrayList_6_0 keys(1, 0);
    map.listKeys(keys);
    ASSERT_EQ(keys.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_STREQ(static_cast<const ZUTF8String_6_0*>(keys.get(i))->c_str(), texts[i].c_str());
        EXPECT_NE(map.getEntry(ZUTF8ConstString_6_0(texts[i].c_str())), nullptr);
    }
}

}  // namespace
