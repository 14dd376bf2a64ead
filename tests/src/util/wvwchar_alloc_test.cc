// Allocations of the quoting functions and the encoder: every allocation that fails gives the
// documented result with nothing left allocated, and the quoting printf grows its buffer in
// the sizes it promises (one allocation for a short filter, one resize for a long argument).
//
// This program replaces malloc, realloc and free with counting versions that can be told to
// fail, forwarding to the C library's own. The sanitizers bring allocators of their own, so
// under them the tests are skipped.

#include <ovutil/encode.h>
#include <ovutil/wvwchar.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OV_TEXT_ALLOC_HOOKS 0
#else
#define OV_TEXT_ALLOC_HOOKS 1
#endif

namespace {

// What the replaced functions do while a test watches (one thread only).
struct Watch {
    bool on = false;
    long failFrom = -1;  // the index of the first allocation to fail, -1 for none
    long failOnly = -1;  // the index of the one allocation to fail, -1 for none
    long count = 0;      // allocations asked for while watching
    std::vector<std::size_t> sizes;  // sizes asked of malloc and realloc, in order
    std::vector<void*> live;         // what was allocated while watching and is not freed
};
Watch watch;

}  // namespace

#if OV_TEXT_ALLOC_HOOKS
namespace {

bool failNext() {
    if (!watch.on) return false;
    const long index = watch.count++;
    return (watch.failFrom >= 0 && index >= watch.failFrom) || index == watch.failOnly;
}

void forget(void* p) {
    for (auto it = watch.live.begin(); it != watch.live.end(); ++it)
        if (*it == p) {
            watch.live.erase(it);
            return;
        }
}

}  // namespace

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size) {
    if (!watch.on) return __libc_malloc(size);
    const bool fail = failNext();
    watch.on = false;  // the bookkeeping below allocates
    void* p = fail ? nullptr : __libc_malloc(size);
    watch.sizes.push_back(size);
    if (p) watch.live.push_back(p);
    watch.on = true;
    return p;
}

void* realloc(void* old, std::size_t size) {
    if (!watch.on) return __libc_realloc(old, size);
    const bool fail = failNext();
    watch.on = false;
    void* p = fail ? nullptr : __libc_realloc(old, size);
    watch.sizes.push_back(size);
    if (p) {
        forget(old);
        watch.live.push_back(p);
    }
    watch.on = true;
    return p;
}

void free(void* p) {
    if (watch.on && p) {
        watch.on = false;
        forget(p);
        watch.on = true;
    }
    __libc_free(p);
}
}  // extern "C"
#endif

namespace {

class TextAllocations : public testing::Test {
protected:
    void SetUp() override {
#if !OV_TEXT_ALLOC_HOOKS
        GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
#endif
    }

    // Runs `call` while watching, with allocations from `failFrom` on, or only allocation
    // `failOnly`, failing.
    char* run(const std::function<char*()>& call, long failFrom, long failOnly = -1) {
        watch = Watch{};
        watch.sizes.reserve(64);
        watch.live.reserve(64);
        watch.failFrom = failFrom;
        watch.failOnly = failOnly;
        watch.on = true;
        char* result = call();
        watch.on = false;
        return result;
    }

    // Fails the first, second, ... allocation of `call` and all after it, until the call
    // needs no more, and checks each time that it gives NULL with nothing left allocated.
    void failEachAllocation(const std::function<char*()>& call, const std::string& expect) {
        for (long failFrom = 0;; ++failFrom) {
            SCOPED_TRACE("allocations fail from number " + std::to_string(failFrom));
            char* result = run(call, failFrom);
            const std::vector<void*> left = watch.live;
            if (watch.count <= failFrom) {
                // Nothing failed: the full result, the only thing left allocated.
                ASSERT_NE(result, nullptr);
                EXPECT_EQ(result, expect);
                EXPECT_EQ(left, std::vector<void*>{result});
                std::free(result);
                return;
            }
            EXPECT_EQ(result, nullptr);
            EXPECT_TRUE(left.empty());
            std::free(result);
        }
    }
};

TEST_F(TextAllocations, QuotingGivesNullWithNothingLeft) {
    failEachAllocation([] { return wv_mbs_nopatquote("a*(b)\\"); }, "a\\2a\\28b\\29\\5c");
    failEachAllocation([] { return wv_mbs_patquote2("x(y", "("); }, "x\\28y");
    // The first allocation, a resize for the format bytes, and one for the quoting argument.
    const std::string longArg(600, '*');
    const std::string longPlain(300, 'p');
    std::string expect = longPlain;
    for (int i = 0; i < 600; ++i) expect += "\\2a";
    expect += "=" + longArg;
    const std::string format = longPlain + "%Q=%s";
    failEachAllocation(
        [&] { return wv_mbs_sprintf(format.c_str(), longArg.c_str(), longArg.c_str()); }, expect);
}

TEST_F(TextAllocations, EncoderFallsBackToACopy) {
    char* e = util_encode("pw");
    const std::string encoded = e;
    std::free(e);
    const struct {
        char* (*call)(const char*);
        std::string input;
    } cases[] = {{util_encode, "pw"}, {util_decode, encoded}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        // The result cannot be allocated: a plain copy, the only thing left allocated.
        char* result = run([&] { return c.call(c.input.c_str()); }, -1, 0);
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(std::string(result), c.input);
        EXPECT_EQ(watch.live, std::vector<void*>{result});
        std::free(result);
        // Nor the copy: NULL, nothing left.
        result = run([&] { return c.call(c.input.c_str()); }, 0);
        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(watch.count, 2);
        EXPECT_TRUE(watch.live.empty());
    }
}

// The buffer starts at 128 bytes and grows as the text needs: plain bytes one limit at a
// time with 128 to spare, %s by its length and a quoting conversion by its worst case, each
// with 128 to spare.
TEST_F(TextAllocations, SprintfGrowsAsPromised) {
    const std::string arg300(300, 'a');
    const std::string plain127(127, 'f'), plain128(128, 'f'), plain200(200, 'f');
    const std::string quoteAfter100 = std::string(100, 'f') + "%Q";
    const struct {
        const char* what;
        std::function<char*()> call;
        std::vector<std::size_t> sizes;
    } cases[] = {
        {"a short filter", [] { return wv_mbs_sprintf("(&(objectclass=%s)(cn=%Q))", "person", "J*n"); },
         {128}},
        {"127 plain bytes", [&] { return wv_mbs_sprintf(plain127.c_str()); }, {128}},
        {"128 plain bytes", [&] { return wv_mbs_sprintf(plain128.c_str()); }, {128, 256}},
        {"200 plain bytes", [&] { return wv_mbs_sprintf(plain200.c_str()); }, {128, 256}},
        {"%s of 300", [&] { return wv_mbs_sprintf("%s", arg300.c_str()); }, {128, 429}},
        {"%Q of 300", [&] { return wv_mbs_sprintf("%Q", arg300.c_str()); }, {128, 1029}},
        // 100 bytes in, 27 left: 3 x 9 fits, 3 x 10 does not.
        {"%Q of 9 after 100", [&] { return wv_mbs_sprintf(quoteAfter100.c_str(), "*********"); }, {128}},
        {"%Q of 10 after 100", [&] { return wv_mbs_sprintf(quoteAfter100.c_str(), "**********"); },
         {128, 100 + 30 + 129}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        char* result = run(c.call, -1);
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(watch.sizes, c.sizes);
        std::free(result);
    }
}

}  // namespace
