// wvmsg_init when the object library throws: the failure is reported like every other
// failure of start-up, on the system log and on standard error, and start-up can be tried
// again.

#include <stdio.h>
#include <string.h>
#include <sys/resource.h>

#include <string>

#include <gtest/gtest.h>

#include "harness/scenario.h"
#include <ovutil/wvmsg.h>

// The test makes an allocation fail on purpose: the sanitizers must hand back null, as the
// C library does, instead of ending the process.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

// The process's address space in bytes, from /proc/self/status (VmSize), or 0.
unsigned long long addressSpace() {
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr) return 0;
    char line[256];
    unsigned long long kib = 0;
    while (fgets(line, sizeof line, f) != nullptr)
        if (sscanf(line, "VmSize: %llu kB", &kib) == 1) break;
    fclose(f);
    return kib * 1024;
}

TEST(WvmsgInitTest, ObjectLibraryExceptionIsReportedOnBothChannels) {
    ovtest::Scenario s;
    s.env["NLSPATH"] = std::nullopt;
    s.env["UCXDIR"] = std::nullopt;
    ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
        // The copy of an 8 MiB program name needs a 16 MiB buffer; with the address space
        // capped 4 MiB above its current size, that allocation fails and the object library
        // throws its out-of-memory exception inside wvmsg_init.
        const std::string name(8u << 20, 'p');
        struct rlimit old;
        if (!r.check(getrlimit(RLIMIT_AS, &old) == 0, "getrlimit")) return;
        const unsigned long long now = addressSpace();
        if (!r.check(now != 0, "VmSize")) return;
        struct rlimit capped = old;
        capped.rlim_cur = now + (4u << 20);
        if (!r.check(setrlimit(RLIMIT_AS, &capped) == 0, "setrlimit")) return;
        const int failed = wvmsg_init(name.c_str());
        r.check(setrlimit(RLIMIT_AS, &old) == 0, "restore the limit");
        r.put("failed", failed);
        // Nothing was accepted, so start-up may be tried again, and succeeds.
        r.put("again", wvmsg_init("wvmsg_init_test"));
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ(out.value("failed"), "0");
    EXPECT_NE(out.errText.find("Cannot initialize DCE servicibility messages(status 0x10652065)\n"),
              std::string::npos)
        << out.errText;
    EXPECT_EQ(out.value("again"), "1");
}

}  // namespace
