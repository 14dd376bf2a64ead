// Routing of records by severity: defaults, the environment, and calls.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ovsvc/svc.h"
#include "svc_test_util.h"

extern char** environ;

namespace {

[[maybe_unused]] auto* const kEnv = ::testing::AddGlobalTestEnvironment(new svc_test::QuietEnvironment);

class SvcRouteTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir_template[] = "/tmp/svc_route_XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
    }
    void TearDown() override {
        for (unsigned s : {OV_SVC_FATAL, OV_SVC_ERROR, OV_SVC_WARNING, OV_SVC_NOTICE, OV_SVC_DEBUG})
            ov_svc_route(s, "DISCARD");  // closes the files before they are removed
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }

    // Runs svc_log_child with `env` added to a clean environment, its standard error and
    // output in files; returns the exit status.
    int RunChild(const std::vector<std::string>& env, std::string& err, std::string& out) {
        std::vector<std::string> strings = env;
        strings.push_back(std::string("NLSPATH=") + OV_NLS_MSG_DIR + "/%L/%N.cat");
        std::vector<char*> envp;
        for (auto& s : strings) envp.push_back(s.data());
        envp.push_back(nullptr);
        std::string err_path = dir_ + "/stderr", out_path = dir_ + "/stdout";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        char child[] = OV_SVC_LOG_CHILD;
        char* argv[] = {child, nullptr};
        pid_t pid = 0;
        int rc = posix_spawn(&pid, child, &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return -1;
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        err = svc_test::ReadFile(err_path);
        out = svc_test::ReadFile(out_path);
        return WEXITSTATUS(status);
    }

    std::string dir_;
};

int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(SvcRouteTest, DefaultsAndEnvironmentRouteEachSeverity) {
    const std::string file = dir_ + "/notice.log";
    const struct {
        const char* name;
        std::vector<std::string> env;
        const char* err_has;  // severities found on standard error, in order
        const char* out_has;
        const char* file_has;
    } cases[] = {
        {"defaults: fatal, error and warning to standard error", {}, "FATAL ERROR WARNING", "", ""},
        {"environment moves and silences severities",
         {"OV_SVC_ROUTE_FATAL=STDOUT", "OV_SVC_ROUTE_WARNING=DISCARD", "OV_SVC_ROUTE_NOTICE=FILE:" + file,
          "OV_SVC_ROUTE_DEBUG=stderr"},
         "ERROR DEBUG3", "FATAL", "NOTICE"},
        {"unusable settings keep the defaults",
         {"OV_SVC_ROUTE_ERROR=PRINTER", "OV_SVC_ROUTE_FATAL=FILE:/nonexistent/dir/x.log",
          "OV_SVC_ROUTE_NOTICE=FILE:"},
         "FATAL ERROR WARNING", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(file.c_str());
        std::string err, out;
        ASSERT_EQ(RunChild(c.env, err, out), 0) << err;
        auto severities = [](const std::string& text) {
            std::string found;
            for (const char* s : {"FATAL", "ERROR", "WARNING", "NOTICE", "DEBUG3"})
                if (text.find(std::string("] ") + s + " ") != std::string::npos)
                    found += (found.empty() ? "" : " ") + std::string(s);
            return found;
        };
        EXPECT_EQ(severities(err), c.err_has) << err;
        EXPECT_EQ(severities(out), c.out_has) << out;
        EXPECT_EQ(severities(svc_test::ReadFile(file)), c.file_has);
    }
}

TEST_F(SvcRouteTest, RecordLineCarriesEveryField) {
    std::string err, out;
    ASSERT_EQ(RunChild({}, err, out), 0);
    // One line per record, each complete.
    EXPECT_EQ(CountOf(err, "\n"), 3);
    const std::string line = err.substr(0, err.find('\n'));
    // 2026-03-01 12:00:00.042+0100 svc_log_child[4242] FATAL bas.general 0x10652065 child:16 text
    const std::string expected_tail =
        " FATAL bas.general 0x10652065 child:16 Out of memory: a memory allocation failed.";
    ASSERT_GT(line.size(), expected_tail.size());
    EXPECT_EQ(line.substr(line.size() - expected_tail.size()), expected_tail);
    EXPECT_NE(line.find(" svc_log_child["), std::string::npos) << line;
    ASSERT_GE(line.size(), 29u);
    for (size_t i : {4u, 7u}) EXPECT_EQ(line[i], '-') << line;
    EXPECT_EQ(line[10], ' ');
    EXPECT_EQ(line[19], '.');
}

TEST_F(SvcRouteTest, CallsRouteToFilesAndNowhere) {
    const std::string path = dir_ + "/records.log";
    ASSERT_EQ(ov_svc_route(OV_SVC_WARNING, ("FILE:" + path).c_str()), 0);
    ASSERT_EQ(ov_svc_route(OV_SVC_ERROR, ("FILE:" + path).c_str()), 0);
    EXPECT_EQ(ov_svc_printf_withfile(wvcore_svc_handle, "a", 1, "%s", 0, 48, 0x1354A0C7, "/etc/w.conf"), 0);
    EXPECT_EQ(ov_svc_printf_withfile(wvcore_svc_handle, "b", 2, "%s", 0, 32, 0x1354A0C3, "/etc/e.conf"), 0);
    ASSERT_EQ(ov_svc_route(OV_SVC_ERROR, "DISCARD"), 0);
    EXPECT_EQ(ov_svc_printf_withfile(wvcore_svc_handle, "c", 3, "%s", 0, 32, 0x1354A0C3, "/etc/gone.conf"), 0);

    const std::string text = svc_test::ReadFile(path);
    EXPECT_EQ(CountOf(text, "\n"), 2) << text;
    EXPECT_NE(text.find(" WARNING wvcore.general 0x1354a0c7 a:1 The configuration file /etc/w.conf"),
              std::string::npos) << text;
    EXPECT_NE(text.find(" ERROR wvcore.general 0x1354a0c3 b:2 The configuration file /etc/e.conf"),
              std::string::npos) << text;
    EXPECT_EQ(text.find("gone"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777 & ~0640, 0u);  // created 0640 (less with the umask)

    // Routing appends: an existing file keeps its contents.
    ASSERT_EQ(ov_svc_route(OV_SVC_NOTICE, ("FILE:" + path).c_str()), 0);
    ov_svc_printf_withfile(wvcore_svc_handle, "d", 4, "", 0, 64, 0x15E3A0A3);
    EXPECT_EQ(CountOf(svc_test::ReadFile(path), "\n"), 3);
}

TEST_F(SvcRouteTest, RefusesUnknownSeveritiesAndDestinations) {
    const std::string path = dir_ + "/kept.log";
    ASSERT_EQ(ov_svc_route(OV_SVC_ERROR, ("FILE:" + path).c_str()), 0);
    const struct {
        unsigned severity;
        const char* destination;
    } cases[] = {
        {17, "STDERR"}, {OV_SVC_ERROR, nullptr}, {OV_SVC_ERROR, "SYSLOG"}, {OV_SVC_ERROR, "FILE:"},
        {OV_SVC_ERROR, "FILE:/nonexistent/dir/x.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination ? c.destination : "(null)");
        EXPECT_EQ(ov_svc_route(c.severity, c.destination), -1);
    }
    // Nothing changed: errors still go to the file.
    ov_svc_printf_withfile(wvcore_svc_handle, "e", 5, "%s", 0, 32, 0x1354A0C3, "/etc/still.conf");
    EXPECT_NE(svc_test::ReadFile(path).find("/etc/still.conf"), std::string::npos);
}

TEST_F(SvcRouteTest, FailedWriteIsReported) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    ASSERT_EQ(ov_svc_route(OV_SVC_ERROR, "FILE:/dev/full"), 0);
    EXPECT_EQ(ov_svc_printf_withfile(bas_svc_handle, "f", 1, "", 0, 32, 0x10652065), -1);
    ASSERT_EQ(ov_svc_route(OV_SVC_NOTICE, "DISCARD"), 0);
    EXPECT_EQ(ov_svc_printf_withfile(bas_svc_handle, "f", 1, "", 0, 64, 0x10652065), 0);
}

}  // namespace
