// The out-of-memory exception when memory has really run out: raising it needs no memory, so
// a caller that catches ZOutOfMemoryException_6_0 gets it, never std::bad_alloc instead.
#include <string>

#include <gtest/gtest.h>

#include "harness/failing_alloc.h"
#include "ovz/exceptions.h"
#include "ovz/strings.h"

namespace {

// A source file name too long for a string to keep in its own room: recording it allocates.
constexpr char kLongSource[] = "platform/ovz/src/a-source-file-with-a-long-name.cc";

TEST(OutOfMemoryWithoutMemory, IsRaisedAsItselfWhateverFails) {
    if (!ovtest::canFailAllocations())
        GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
    const struct {
        const char* what;
        void (*raise)();
        const char* source;  // what sourceFile() reads once raised without memory
    } cases[] = {
        {"raised by a caller", [] { ZOutOfMemoryException_6_0().throwException(kLongSource, 17); },
         ""},
        {"an object that cannot be allocated",
         [] { delete new ZUTF8String_6_0("a text longer than the string's own room"); }, nullptr},
        {"a string that cannot grow",
         [] {
             ZUTF8String_6_0 text("x");
             ovtest::FailingAllocations fail;
             text.append("a text longer than the string's own room");
         },
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool outOfMemory = false, other = false;
        std::string source;
        {
            ovtest::FailingAllocations fail;
            try {
                c.raise();
            } catch (ZOutOfMemoryException_6_0& e) {
                outOfMemory = e.kind() == ZEXC_OUT_OF_MEMORY;
                ovtest::AllowAllocations allow;
                source = e.sourceFile();
            } catch (...) {
                other = true;
            }
        }
        EXPECT_TRUE(outOfMemory);
        EXPECT_FALSE(other);
        if (c.source != nullptr) {
            EXPECT_EQ(source, c.source);
        }
    }
    // With memory, the place is recorded as ever.
    try {
        ZOutOfMemoryException_6_0().throwException(kLongSource, 17);
    } catch (ZOutOfMemoryException_6_0& e) {
        EXPECT_STREQ(e.sourceFile(), kLongSource);
        EXPECT_EQ(e.sourceLine(), 17);
        EXPECT_STREQ(e.text(), "out of memory");
    }
}

}  // namespace
