// A traceDump at a disabled level returns before it renders the map. The first rendering of a
// process creates the set of masked names, so this binary, which renders nothing else first,
// sees whether a rendering happened.

#include <ovutil/OVObject.h>

#include <gtest/gtest.h>

#include <ovsvc/capture.hpp>

#include "src/WVCore/OVObject_test_util.h"

namespace {

TEST(OVObjectTraceGate, ADisabledLevelRendersNothing) {
    ASSERT_EQ(NameValueMap::namesNotToTrace, nullptr) << "a rendering ran before this test";
    objtest::DebugLevel configured(wvcore_svc_handle, 3, 4);
    OVObject o("o");
    o.addStringValue("pwd", "secret", nullptr);
    ovsvc::CaptureSink capture;
    o.traceDump(wvcore_svc_handle, "f", 1, 3, 5, "prefix");
    EXPECT_EQ(capture.size(), 0u);
    EXPECT_EQ(NameValueMap::namesNotToTrace, nullptr);

    o.traceDump(wvcore_svc_handle, "f", 1, 3, 4, "prefix");
    EXPECT_EQ(capture.size(), 1u);
    EXPECT_NE(NameValueMap::namesNotToTrace, nullptr);
}

}  // namespace
