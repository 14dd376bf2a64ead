// Configuration items when memory runs out: every allocation of a load failing in turn, the
// load reports failure (or succeeds when nothing failed), never throws, and logs the failure.
#include <ovutil/cfgfile.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include <ovsvc/capture.h>
#include <ovsvc/svc.h>
#include <ovz/strings.h>

#include "harness/failing_alloc.h"

namespace {

int failureRecords = 0;

// Counts the records that report a failed load: the load's own message and out of memory.
void countFailures(void*, const ov_svc_record_t* record) {
    if (!record->is_debug && (record->msgid == 0x1354A09A || record->msgid == 0x10652065))
        ++failureRecords;
}

TEST(CfgFileAlloc, LoadFailsWithoutThrowingWhateverAllocationFails) {
    if (!ovtest::canFailAllocations())
        GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
    char dir[] = "/tmp/ovutil_cfgalloc_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string warm = std::string(dir) + "/warm.conf";
    const std::string file = std::string(dir) + "/ssl-configuration-file.conf";
    for (const std::string& name : {warm, file})
        std::ofstream(name) << "[meta-info]\nversion = 0x610\n[ssl]\nssl-enable-fips = yes\n";
    for (unsigned s : {OV_SVC_FATAL, OV_SVC_ERROR, OV_SVC_WARNING}) ov_svc_route(s, "DISCARD");
    // The registry and its factory exist before memory runs out, as in any program that has
    // read its configuration.
    {
        ZLCString_6_0 value;
        ZStzFileItem_6_0 item = {ZSTZ_ITEM_LCSTRING, "ssl", "ssl-enable-fips", 0, &value, 0};
        ASSERT_EQ(config_item_load(warm.c_str(), &item, 1, 0), OV_CFG_S_OK);
    }
    ov_svc_set_capture(countFailures, nullptr);
    for (long after = 0;; ++after) {
        SCOPED_TRACE("allocations fail from number " + std::to_string(after));
        failureRecords = 0;
        ZLCString_6_0 value;
        ZStzFileItem_6_0 item = {ZSTZ_ITEM_LCSTRING, "ssl", "ssl-enable-fips", 0, &value, 0};
        unsigned status = 0;
        bool threw = false;
        long attempts;
        {
            ovtest::FailingAllocations fail(after);
            try {
                status = config_item_load(file.c_str(), &item, 1, 0);
            } catch (...) {
                threw = true;
            }
            attempts = fail.attempts();
        }
        ASSERT_FALSE(threw);
        if (attempts <= after) {
            EXPECT_EQ(status, OV_CFG_S_OK);
            EXPECT_STREQ(value.c_str(), "yes");
            EXPECT_EQ(failureRecords, 0);
            break;
        }
        EXPECT_EQ(status, OV_CFG_S_LOAD_FAILED);
        EXPECT_GE(failureRecords, 1);
    }
    ov_svc_set_capture(nullptr, nullptr);
    std::filesystem::remove_all(dir);
}

}  // namespace
