// The scenario harness itself: isolation from the real /opt and /etc, what travels back to
// the parent, and how a child that fails or cannot be set up is reported.

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "harness/scenario.h"

namespace {

bool exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

TEST(ScenarioTest, FilesLandOnAPrivateTmpfsAndTheEnvironmentIsSet) {
    const char* probe = "/opt/ovtest-harness-probe/etc/probe.conf";
    ASSERT_FALSE(exists(probe));
    setenv("OVTEST_UNSET_ME", "still here", 1);
    ovtest::Scenario s;
    s.files[probe] = "line\n";
    s.files["/etc/ovtest-probe"] = "x";
    s.env["OVTEST_SET_ME"] = std::string("value");
    s.env["OVTEST_UNSET_ME"] = std::nullopt;
    ovtest::Outcome out = ovtest::runScenario(s, [probe](ovtest::Report& r) {
        FILE* f = fopen(probe, "r");
        char line[16] = "";
        if (r.check(f != nullptr, "probe file missing")) {
            r.check(fgets(line, sizeof line, f) != nullptr, "probe file empty");
            fclose(f);
        }
        r.put("content", line);
        // The tmpfs hides what the real /etc holds.
        r.put("passwd visible", exists("/etc/passwd") ? "yes" : "no");
        r.put("set", getenv("OVTEST_SET_ME"));
        r.put("unset", getenv("OVTEST_UNSET_ME"));
        r.put("empty", "");
        r.put("number", -42LL);
        fprintf(stderr, "to stderr\n");
        printf("to stdout\n");
    });
    unsetenv("OVTEST_UNSET_ME");
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ(out.value("content"), "line\n");
    EXPECT_EQ(out.value("passwd visible"), "no");
    EXPECT_EQ(out.value("set"), "value");
    EXPECT_TRUE(out.isNull("unset"));
    EXPECT_FALSE(out.isNull("empty"));
    EXPECT_EQ(out.value("empty"), "");
    EXPECT_EQ(out.value("number"), "-42");
    EXPECT_EQ(out.value("never put"), "<missing>");
    EXPECT_EQ(out.errText, "to stderr\n");
    EXPECT_EQ(out.outText, "to stdout\n");
    // Nothing leaked out of the child's mount namespace.
    EXPECT_FALSE(exists(probe));
    EXPECT_FALSE(exists("/etc/ovtest-probe"));
}

TEST(ScenarioTest, FailuresOfTheBodyReachTheParent) {
    struct Case {
        const char* name;
        void (*body)(ovtest::Report&);
        bool exited;
        int signal;
        const char* failure;  // a failure text that must be reported, or null
    };
    const Case cases[] = {
        {"failed check", [](ovtest::Report& r) { r.check(false, "two is not three"); }, true, 0,
         "two is not three"},
        {"exception", [](ovtest::Report&) { throw std::runtime_error("boom"); }, true, 0,
         "body threw boom"},
        {"abort",
         [](ovtest::Report& r) {
             r.put("before", "yes");
             abort();
         },
         false, SIGABRT, nullptr},
        {"exit code", [](ovtest::Report&) { _exit(3); }, true, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ovtest::Outcome out = ovtest::runScenario(ovtest::Scenario{}, c.body);
        if (out.skipped) GTEST_SKIP() << "scenario skipped: " << out.skipReason;
        EXPECT_FALSE(out.ok()) << out.describe();
        EXPECT_EQ(out.exited, c.exited);
        EXPECT_EQ(out.signal, c.signal);
        if (c.failure != nullptr) {
            ASSERT_EQ(out.failures.size(), 1u) << out.describe();
            EXPECT_EQ(out.failures[0], c.failure);
        }
    }
}

TEST(ScenarioTest, ARefusedMountSkipsWithTheReason) {
    ovtest::Scenario s;
    s.mounts = {"/ovtest-no-such-directory"};
    ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) { r.put("ran", "yes"); });
    EXPECT_TRUE(out.skipped) << out.describe();
    EXPECT_FALSE(out.ok());
    EXPECT_NE(out.skipReason.find("/ovtest-no-such-directory"), std::string::npos)
        << out.skipReason;
    EXPECT_FALSE(out.has("ran"));
}

TEST(ScenarioTest, AHangingBodyIsKilledAtItsTimeout) {
    ovtest::Scenario s;
    s.timeoutSeconds = 1;
    ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report&) {
        for (;;) pause();
    });
    if (out.skipped) GTEST_SKIP() << "scenario skipped: " << out.skipReason;
    EXPECT_TRUE(out.timedOut);
    EXPECT_EQ(out.signal, SIGKILL);
    EXPECT_FALSE(out.ok());
}

}  // namespace
