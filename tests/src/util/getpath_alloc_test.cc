// The common directory when memory runs out: as in start-up, the process ends with the
// out-of-memory message, whichever allocation fails and however the object library reports
// it; never a status that claims the entries were registered.

#include <string>

#include <gtest/gtest.h>

#include <ovutil/PathMap.h>
#include <ovutil/getpath.h>
#include <ovz/strings.h>

#include "harness/failing_alloc.h"

namespace {

TEST(CommonDirectoryAllocDeathTest, OutOfMemoryEndsTheProcessWithItsMessage) {
    if (!ovtest::canFailAllocations())
        GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
    ovutil_init();
    // The two roots, as start-up stores them when the configuration names them.
    PathMap::ovPaths_->putEntry(ZUTF8ConstString_6_0("#ov_undefined_scd_root"),
                                ZLCString_6_0("/srv/family-common-directory"));
    PathMap::ovPaths_->putEntry(ZUTF8ConstString_6_0("#ov_undefined_ov_scd_root"),
                                ZLCString_6_0("/srv/product-common-directory"));
    const char* const component = "a-component-with-a-long-name";
    // How many allocations the call makes when none fails.
    long attempts;
    unsigned status;
    {
        ovtest::FailingAllocations count(1L << 40);
        status = ov_selvan_common_directory_init(component);
        attempts = count.attempts();
    }
    EXPECT_EQ(status, OV_SCD_S_ROOTS_DIFFER);
    ASSERT_GT(attempts, 0);
    for (long after = 0; after < attempts; ++after) {
        SCOPED_TRACE("allocations fail from number " + std::to_string(after));
        EXPECT_DEATH(
            {
                ovtest::FailingAllocations fail(after);
                ov_selvan_common_directory_init(component);
            },
            "FATAL bas.general 0x10652065 src/util/getpath:[0-9]+ Out of memory");
    }
    EXPECT_STREQ(ov_get_path("#ov_undefined_ov_scd_logs"),
                 "/srv/product-common-directory/a-component-with-a-long-name/logs");
}

}  // namespace
