// Helpers shared by the serviceability and catalog tests.
#ifndef OVUTIL_TESTS_SVC_SVC_TEST_UTIL_H
#define OVUTIL_TESTS_SVC_SVC_TEST_UTIL_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "ovsvc/svc.h"

namespace svc_test {

// Catalogs of the build, and the tests' own catalog "ov7e57a" (numbers 0x7E57Axxx).
inline std::string TestNlspath() {
    return std::string(OV_SVC_TEST_NLS_DIR) + "/%L/%N.cat:" + OV_NLS_MSG_DIR + "/%L/%N.cat";
}

// Points NLSPATH at the catalogs and keeps records off standard error, before any test runs.
class QuietEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("NLSPATH", TestNlspath().c_str(), 1);
        for (unsigned s : {OV_SVC_FATAL, OV_SVC_ERROR, OV_SVC_WARNING, OV_SVC_NOTICE, OV_SVC_DEBUG})
            ov_svc_route(s, "DISCARD");
    }
};

// Runs `body` in a fresh process: the test binary runs again with only the current test, and
// there `body` runs at once and its result becomes the exit status. Process-wide state (open
// catalogs, routes read from the environment) starts from nothing, which fork() would not give.
// Returns the exit status, or -1 when the process did not exit normally.
inline int RunInFreshProcess(const std::function<int()>& body) {
    if (std::getenv("OV_SVC_TEST_FRESH")) {
        int rc = body();
        std::fflush(nullptr);
        _exit(rc);
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    pid_t pid = fork();
    if (pid == 0) {
        setenv("OV_SVC_TEST_FRESH", "1", 1);
        execl("/proc/self/exe", "/proc/self/exe", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace svc_test

#endif
