// Routing of records by severity: defaults, the environment, calls, the system log, the
// journal's standard error, and the warnings about settings that cannot be followed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness/scenario.h"
#include "ovsvc/svc.h"
#include "svc_test_util.h"

extern char** environ;

namespace {

[[maybe_unused]] auto* const kEnv =
    ::testing::AddGlobalTestEnvironment(new svc_test::QuietEnvironment);

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

    // Runs svc_log_child (with `arg` as its argument when not empty) with `env` added to a
    // clean environment, its standard error and output in files; returns the exit status, or
    // -1 when it did not exit normally and kTimedOut when it was still running after 20 s.
    int runChild(const std::vector<std::string>& env, std::string& err, std::string& out,
                 const std::string& arg = "") {
        std::vector<std::string> strings = env;
        strings.push_back(std::string("NLSPATH=") + OV_NLS_MSG_DIR + "/%L/%N.cat");
        std::vector<char*> envp;
        for (auto& s : strings) envp.push_back(s.data());
        envp.push_back(nullptr);
        std::string err_path = errPath(), out_path = dir_ + "/stdout";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        char child[] = OV_SVC_LOG_CHILD;
        std::string argument = arg;
        char* argv[] = {child, arg.empty() ? nullptr : argument.data(), nullptr};
        pid_t pid = 0;
        int rc = posix_spawn(&pid, child, &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return -1;
        int status = 0;
        if (!waitWithTimeout(pid, status)) return kTimedOut;
        err = svc_test::ReadFile(err_path);
        out = svc_test::ReadFile(out_path);
        if (!WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    // Waits up to 20 s for `pid`; kills and reaps it after that. True when it ended by itself.
    static bool waitWithTimeout(pid_t pid, int& status) {
        for (int waited_ms = 0; waited_ms < 20000; waited_ms += 10) {
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) return true;
            if (r < 0) return false;
            struct timespec ten_ms = {0, 10 * 1000 * 1000};
            nanosleep(&ten_ms, nullptr);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return false;
    }

    std::string errPath() const { return dir_ + "/stderr"; }

    static constexpr int kTimedOut = -2;
    std::string dir_;
};

int countOf(const std::string& text, const std::string& what) {
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
         {"OV_SVC_ROUTE_FATAL=STDOUT", "OV_SVC_ROUTE_WARNING=DISCARD",
          "OV_SVC_ROUTE_NOTICE=FILE:" + file, "OV_SVC_ROUTE_DEBUG=stderr"},
         "ERROR DEBUG3",
         "FATAL",
         "NOTICE"},
        // Not understood: the default route; cannot be opened: standard error.
        {"unusable settings",
         {"OV_SVC_ROUTE_ERROR=PRINTER", "OV_SVC_ROUTE_NOTICE=FILE:/nonexistent/dir/x.log",
          "OV_SVC_ROUTE_WARNING=FILE:", "OV_SVC_ROUTE_DEBUG="},
         "FATAL ERROR WARNING NOTICE",
         "",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(file.c_str());
        std::string err, out;
        ASSERT_EQ(runChild(c.env, err, out), 0) << err;
        auto severities = [](const std::string& text) {
            std::string found;
            for (std::string s : {"FATAL", "ERROR", "WARNING", "NOTICE", "DEBUG3"}) {
                // The child's own records, not the warnings about the settings.
                std::string record =
                    s == "DEBUG3" ? "] DEBUG3 bas.memory " : "] " + s + " bas.general 0x10652065 ";
                if (text.find(record) != std::string::npos) found += (found.empty() ? "" : " ") + s;
            }
            return found;
        };
        EXPECT_EQ(severities(err), c.err_has) << err;
        EXPECT_EQ(severities(out), c.out_has) << out;
        EXPECT_EQ(severities(svc_test::ReadFile(file)), c.file_has);
    }
}

TEST_F(SvcRouteTest, RecordLineCarriesEveryField) {
    std::string err, out;
    ASSERT_EQ(runChild({}, err, out), 0);
    // One line per record, each complete, and nothing else.
    EXPECT_EQ(countOf(err, "\n"), 3) << err;
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
    EXPECT_EQ(
        ov_svc_printf_withfile(wvcore_svc_handle, "a", 1, "%s", 0, 48, 0x1354A0C7, "/etc/w.conf"),
        0);
    EXPECT_EQ(
        ov_svc_printf_withfile(wvcore_svc_handle, "b", 2, "%s", 0, 32, 0x1354A0C3, "/etc/e.conf"),
        0);
    ASSERT_EQ(ov_svc_route(OV_SVC_ERROR, "DISCARD"), 0);
    EXPECT_EQ(ov_svc_printf_withfile(wvcore_svc_handle, "c", 3, "%s", 0, 32, 0x1354A0C3,
                                     "/etc/gone.conf"),
              0);

    const std::string text = svc_test::ReadFile(path);
    EXPECT_EQ(countOf(text, "\n"), 2) << text;
    EXPECT_NE(
        text.find(" WARNING wvcore.general 0x1354a0c7 a:1 The configuration file /etc/w.conf"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find(" ERROR wvcore.general 0x1354a0c3 b:2 The configuration file /etc/e.conf"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("gone"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777 & ~0640, 0u);  // created 0640 (less with the umask)

    // Routing appends: an existing file keeps its contents.
    ASSERT_EQ(ov_svc_route(OV_SVC_NOTICE, ("FILE:" + path).c_str()), 0);
    ov_svc_printf_withfile(wvcore_svc_handle, "d", 4, "", 0, 64, 0x15E3A0A3);
    EXPECT_EQ(countOf(svc_test::ReadFile(path), "\n"), 3);
}

TEST_F(SvcRouteTest, RefusesUnknownSeveritiesAndDestinations) {
    const std::string path = dir_ + "/kept.log";
    ASSERT_EQ(ov_svc_route(OV_SVC_ERROR, ("FILE:" + path).c_str()), 0);
    const struct {
        unsigned severity;
        const char* destination;
    } cases[] = {
        {17, "STDERR"},
        {OV_SVC_ERROR, nullptr},
        {OV_SVC_ERROR, "SYSLOG:x"},
        {OV_SVC_ERROR, "FILE:"},
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

// The warning lines about settings in `text`.
std::vector<std::string> warningLines(const std::string& text) {
    std::vector<std::string> found;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        for (const char* number : {"0x10652071", "0x10652072", "0x10652073"})
            if (line.find(std::string(" WARNING bas.general ") + number + " ") != std::string::npos)
                found.push_back(line);
        start = end + 1;
    }
    return found;
}

// A FIFO as a log route must not block the process (the open of a FIFO without a reader waits
// for one, and every write waits once the reader stops): the route is refused, from the
// environment with one warning and standard error instead.
TEST_F(SvcRouteTest, FifoRouteIsRefusedWithoutBlocking) {
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string err, out;
    // kTimedOut (-2) here: the child hung on the FIFO.
    ASSERT_EQ(runChild({"OV_SVC_ROUTE_ERROR=FILE:" + fifo}, err, out), 0) << err;
    std::vector<std::string> warnings = warningLines(err);
    ASSERT_EQ(warnings.size(), 1u) << err;
    EXPECT_NE(warnings[0].find("0x10652072 platform/svc/src/route.cc:"), std::string::npos)
        << warnings[0];
    EXPECT_NE(
        warnings[0].find("The log route OV_SVC_ROUTE_ERROR=FILE:" + fifo +
                         " cannot be used (not a regular file or character device); records of"
                         " that severity go to standard error."),
        std::string::npos)
        << warnings[0];
    EXPECT_NE(err.find("] ERROR bas.general 0x10652065 "), std::string::npos) << err;

    // By a call: refused, nothing changes.
    ASSERT_EQ(runChild({}, err, out, "FILE:" + fifo), 0) << err;
    EXPECT_EQ(out, "route -1\n");
    EXPECT_TRUE(warningLines(err).empty()) << err;

    // A character device is a file to write to.
    ASSERT_EQ(runChild({"OV_SVC_ROUTE_ERROR=FILE:/dev/null"}, err, out, "FILE:/dev/null"), 0)
        << err;
    EXPECT_EQ(out, "route 0\n");
    EXPECT_EQ(err.find("] ERROR "), std::string::npos) << err;
    EXPECT_TRUE(warningLines(err).empty()) << err;
}

// Each setting that cannot be followed gives exactly one warning on standard error, however
// many handles read OV_SVC_DEBUG; good settings and other components' entries give none.
TEST_F(SvcRouteTest, SettingsThatCannotBeFollowedWarnOnce) {
    std::string err, out;
    ASSERT_EQ(runChild({"OV_SVC_ROUTE_ERROR=PRINTER",
                        "OV_SVC_ROUTE_NOTICE=FILE:", "OV_SVC_ROUTE_FATAL=stdout",
                        "OV_SVC_DEBUG=bas:1=3,junk,,ras:bogus=9,ovz:9=1,wvcore:text=2,myown:x=2,"
                        "ras=1,ovc:1=99999999999"},
                       err, out),
              0)
        << err;
    const std::vector<std::string> expected = {
        "The log route OV_SVC_ROUTE_ERROR=PRINTER is not understood; records of that severity keep "
        "their default route.",
        "The log route OV_SVC_ROUTE_NOTICE=FILE: is not understood; records of that severity keep "
        "their default route.",
        "The debug setting junk in OV_SVC_DEBUG is not understood and sets nothing.",
        "The debug setting ras=1 in OV_SVC_DEBUG is not understood and sets nothing.",
        "The debug setting ovc:1=99999999999 in OV_SVC_DEBUG is not understood and sets nothing.",
        "The debug setting ras:bogus=9 in OV_SVC_DEBUG is not understood and sets nothing.",
        "The debug setting ovz:9=1 in OV_SVC_DEBUG is not understood and sets nothing.",
    };
    std::vector<std::string> warnings = warningLines(err);
    ASSERT_EQ(warnings.size(), expected.size()) << err;
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i]);
        const std::string& line = warnings[i];
        ASSERT_GE(line.size(), expected[i].size());
        EXPECT_EQ(line.substr(line.size() - expected[i].size()), expected[i]);
    }
    // The records themselves: fatal on standard output as asked, error and warning by default.
    EXPECT_NE(out.find("] FATAL bas.general 0x10652065 "), std::string::npos) << out;
    EXPECT_NE(err.find("] ERROR bas.general 0x10652065 "), std::string::npos) << err;
    EXPECT_EQ(err.find("] NOTICE bas.general 0x10652065 "), std::string::npos) << err;
}

// On the journal's stream (JOURNAL_STREAM names standard error's device and inode) every line
// starts with the priority in the form "<N>" and carries no time stamp of its own; any other
// stream keeps the time stamp.
TEST_F(SvcRouteTest, JournalStreamLinesCarryThePriority) {
    // The child's standard error is this file, truncated in place (its inode stays).
    ASSERT_EQ(close(open(errPath().c_str(), O_WRONLY | O_CREAT, 0600)), 0);
    struct stat st;
    ASSERT_EQ(stat(errPath().c_str(), &st), 0);
    const std::string stream = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const std::string other = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);

    std::string err, out;
    ASSERT_EQ(runChild({"JOURNAL_STREAM=" + stream, "OV_SVC_ROUTE_DEBUG=STDERR",
                        "OV_SVC_ROUTE_NOTICE=STDERR", "OV_SVC_ROUTE_WARNING=PRINTER"},
                       err, out),
              0);
    const std::string records[] = {
        "<4>svc_log_child[",  // the warning about the route
        "<2>svc_log_child[", "<3>svc_log_child[", "<4>svc_log_child[",
        "<5>svc_log_child[", "<7>svc_log_child[", "<7>\tnext line",
    };
    size_t at = 0;
    for (const std::string& start : records) {
        SCOPED_TRACE(start);
        size_t end = err.find('\n', at);
        ASSERT_NE(end, std::string::npos) << err;
        EXPECT_EQ(err.compare(at, start.size(), start), 0) << err.substr(at, end - at);
        at = end + 1;
    }
    EXPECT_EQ(at, err.size()) << err;
    EXPECT_NE(err.find("] FATAL bas.general 0x10652065 child:16 Out of memory"), std::string::npos)
        << err;

    // Another stream: the usual lines, which start with the date.
    for (const std::string& value : {other, std::string("garbage"), std::string(":")}) {
        SCOPED_TRACE(value);
        ASSERT_EQ(runChild({"JOURNAL_STREAM=" + value}, err, out), 0);
        ASSERT_FALSE(err.empty());
        EXPECT_EQ(err.find('<'), std::string::npos) << err;
        EXPECT_EQ(err.substr(0, 2), "20") << err;
    }
}

// SYSLOG routes records to syslog(3) with the priority of their severity. The child runs with
// a private /dev whose /dev/log is a socket of the test's.
TEST_F(SvcRouteTest, SyslogRouteSendsThePriorityOfTheSeverity) {
    ovtest::Scenario s;
    s.mounts = {"/dev"};
    s.env.clear();
    ovtest::Outcome outcome = ovtest::runScenario(s, [](ovtest::Report& r) {
        int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, "/dev/log");
        if (!r.check(sock >= 0 && bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0,
                     "binding /dev/log"))
            return;
        std::vector<std::string> env = {
            "OV_SVC_ROUTE_FATAL=SYSLOG",   "OV_SVC_ROUTE_ERROR=syslog",
            "OV_SVC_ROUTE_WARNING=SysLog", "OV_SVC_ROUTE_NOTICE=SYSLOG",
            "OV_SVC_ROUTE_DEBUG=SYSLOG",   std::string("NLSPATH=") + OV_NLS_MSG_DIR + "/%L/%N.cat"};
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char child[] = OV_SVC_LOG_CHILD;
        char* argv[] = {child, nullptr};
        pid_t pid = 0;
        if (!r.check(posix_spawn(&pid, child, nullptr, nullptr, argv, envp.data()) == 0, "spawn"))
            return;
        int status = 0;
        r.check(SvcRouteTest::waitWithTimeout(pid, status) && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0,
                "child exits 0");
        char buffer[4096];
        int n = 0;
        for (ssize_t got; (got = recv(sock, buffer, sizeof buffer, MSG_DONTWAIT)) > 0; ++n)
            r.put("message " + std::to_string(n), std::string(buffer, static_cast<size_t>(got)));
        r.put("count", n);
    });
    OV_EXPECT_SCENARIO_RAN(outcome);
    // The priority includes the facility, LOG_USER (8), unless the program chose another.
    const struct {
        const char* priority;
        const char* record;
    } expected[] = {
        {"<10>", "] FATAL bas.general 0x10652065 child:16 Out of memory"},
        {"<11>", "] ERROR bas.general 0x10652065 child:32 "},
        {"<12>", "] WARNING bas.general 0x10652065 child:48 "},
        {"<13>", "] NOTICE bas.general 0x10652065 child:64 "},
        {"<15>", "] DEBUG3 bas.memory 0x00000000 child:1 debug line\n\tnext line"},
    };
    ASSERT_EQ(outcome.value("count"), "5") << outcome.describe();
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const std::string message = outcome.value("message " + std::to_string(i));
        EXPECT_EQ(message.substr(0, 4), expected[i].priority) << message;
        EXPECT_NE(message.find(expected[i].record), std::string::npos) << message;
        // syslog stamps the message and names the program itself; the record follows that
        // header without its own time stamp.
        EXPECT_NE(message.find(": svc_log_child["), std::string::npos) << message;
        EXPECT_EQ(message.find("-"), std::string::npos) << message;
    }
}

}  // namespace
