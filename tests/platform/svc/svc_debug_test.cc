// Debug levels: from OV_SVC_DEBUG when a handle is first used, from ov_svc_set_debug_level,
// and the debug lines they let through.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "ovsvc/capture.hpp"
#include "ovsvc/svc.h"
#include "svc_test_util.h"

namespace {

[[maybe_unused]] auto* const kEnv = ::testing::AddGlobalTestEnvironment(new svc_test::QuietEnvironment);

// A caller's own handle, not yet filled in, like the product's handles before their first use.
struct OwnHandle {
    ov_svc_subcomp_t table[4] = {
        {"general", "", 0}, {"trace", "", 0}, {"dump", "", 0}, {"exceptions", "", 0}};
    dce_svc_handle_s_t record = {"ras", table, 4, 0};
    dce_svc_handle_t handle() { return &record; }
};

TEST(SvcDebugLevels, ComeFromTheEnvironmentAtFirstUse) {
    const struct {
        const char* setting;
        unsigned levels[4];
    } cases[] = {
        {"", {0, 0, 0, 0}},
        {"ras:3=9", {0, 0, 0, 9}},
        {"ras:exceptions=9,ras:trace=2", {0, 2, 0, 9}},
        {"ras:*=4,ras:0=1", {1, 4, 4, 4}},
        {"*:2=7", {0, 0, 7, 0}},
        {"wvcore:*=5", {0, 0, 0, 0}},                    // another component
        {"ras:3=x,ras:9=1,ras=2,junk,ras:1=3", {0, 3, 0, 0}},  // bad entries are skipped
        {"ras:1=1234567890", {0, 0, 0, 0}},             // too large a level is not one
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        setenv("OV_SVC_DEBUG", c.setting, 1);
        OwnHandle own;
        EXPECT_EQ(ov_svc_debug_level(own.handle(), 0), c.levels[0]);
        EXPECT_EQ(own.record.setup, 1);
        for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(own.table[i].sc_level, c.levels[i]) << i;
        // Read once: a later change of the environment does not touch a filled-in handle.
        setenv("OV_SVC_DEBUG", "ras:*=6", 1);
        EXPECT_EQ(ov_svc__debug_fillin2(own.handle(), 3), c.levels[3]);
        EXPECT_EQ(ov_svc__debug_fillin2(own.handle(), 17), 0u);  // outside the table
    }
    unsetenv("OV_SVC_DEBUG");
}

TEST(SvcDebugLevels, SetByCallFillsInFirst) {
    setenv("OV_SVC_DEBUG", "ras:1=3", 1);
    OwnHandle own;
    ov_svc_set_debug_level(own.handle(), 2, 8);
    unsetenv("OV_SVC_DEBUG");
    EXPECT_EQ(ov_svc_debug_level(own.handle(), 1), 3u);  // the environment was applied first
    EXPECT_EQ(ov_svc_debug_level(own.handle(), 2), 8u);
    ov_svc_set_debug_level(own.handle(), 99, 8);          // no such sub-component: ignored
    EXPECT_EQ(ov_svc_debug_level(own.handle(), 99), 0u);
}

TEST(SvcDebugLevels, ProductHandlesHaveTheirTables) {
    const struct {
        dce_svc_handle_t handle;
        const char* component;
    } cases[] = {{bas_svc_handle, "bas"}, {wvcore_svc_handle, "wvcore"}, {ov_ras_svc_handle, "ras"},
                 {ovc_svc_handle, "ovc"}, {ovz_svc_handle, "ovz"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.component);
        ASSERT_NE(c.handle, nullptr);
        EXPECT_STREQ(c.handle->component, c.component);
        EXPECT_GE(c.handle->table_size, 4u);
        for (unsigned i = 0; i < c.handle->table_size; ++i) EXPECT_NE(c.handle->table[i].sc_name, nullptr);
    }
    EXPECT_STREQ(ov_ras_svc_handle->table[3].sc_name, "exceptions");
}

TEST(SvcDebugLines, WrittenOnlyWhenTheLevelAllows) {
    OwnHandle own;
    ov_svc_set_debug_level(own.handle(), 3, 8);
    ovsvc::CaptureSink capture;
    // Level 8 does not reach 9: nothing.
    ov_svc__debug_withfile(own.handle(), "src/util/getpath", 10, 3, 9, "%s Exception caught. \n", "ZException");
    EXPECT_EQ(capture.size(), 0u);
    ov_svc_set_debug_level(own.handle(), 3, 9);
    ov_svc__debug_withfile(own.handle(), "src/util/getpath", 11, 3, 9, "%s Exception caught. \n", "ZException");
    // Another sub-component of the same handle stays quiet.
    ov_svc__debug_utf8_withfile(own.handle(), "src/x", 12, 1, 1, "%s", "quiet");
    auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    const auto& r = records[0];
    EXPECT_TRUE(r.is_debug);
    EXPECT_EQ(r.severity, OV_SVC_DEBUG);
    EXPECT_EQ(r.level, 9u);
    EXPECT_EQ(r.subcomp, 3u);
    EXPECT_EQ(r.subcomp_name, "exceptions");
    EXPECT_EQ(r.msgid, 0u);
    EXPECT_EQ(r.file, "src/util/getpath");
    EXPECT_EQ(r.line, 11);
    EXPECT_EQ(r.format, "%s Exception caught. \n");
    EXPECT_EQ(r.inserts, std::vector<std::string>{"ZException"});
    EXPECT_EQ(r.text, "ZException Exception caught. \n");
    std::string tail = " DEBUG9 ras.exceptions 0x00000000 src/util/getpath:11 ZException Exception caught.";
    ASSERT_GE(r.line_text.size(), tail.size());
    EXPECT_EQ(r.line_text.substr(r.line_text.size() - tail.size()), tail);
}

TEST(SvcDebugLines, TextIsFormattedFromTheProgramsFormat) {
    OwnHandle own;
    ov_svc_set_debug_level(own.handle(), 0, 1);
    ovsvc::CaptureSink capture;
    // A '%' inside an insert is printed, not taken as a conversion.
    ov_svc__debug_utf8_withfile(own.handle(), "f", 1, 0, 1, "invalid single byte character: %s", "%n%s 100%");
    std::string long_value(2000, 'v');
    ov_svc__debug_withfile(own.handle(), "f", 2, 0, 1, "%d:%s", 5, long_value.c_str());
    ov_svc__debug_withfile(own.handle(), "f", 3, 0, 1, "first\nsecond\n");
    auto records = capture.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].text, "invalid single byte character: %n%s 100%");
    EXPECT_TRUE(records[0].utf8);
    EXPECT_EQ(records[1].text, "5:" + long_value);
    // A record with line breaks continues on tab-indented lines.
    std::string tail = " f:3 first\n\tsecond";
    EXPECT_EQ(records[2].line_text.substr(records[2].line_text.size() - tail.size()), tail);
}

}  // namespace
