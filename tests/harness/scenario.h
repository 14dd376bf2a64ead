// Start-up scenarios: run a piece of code in a fresh child process that sees its own /opt
// and /etc.
//
// Start-up of the library reads fixed absolute paths ("/opt/Orvan/etc/ov.conf", the
// common-directory properties under /etc) and runs once per process. A scenario therefore
// forks a child that
//   1. enters a new mount namespace (and a new user namespace first when it is not root),
//   2. makes every mount private, so nothing it mounts leaks out,
//   3. mounts an empty tmpfs over each directory of Scenario::mounts ("/opt" and "/etc"),
//   4. writes the scenario's files and sets or unsets its environment variables,
//   5. runs the body, which records what it observed in a Report,
// and then leaves with _exit. The parent collects the report, the exit status and the
// child's standard error into an Outcome, and the test asserts on that. The body must not
// use gtest assertions: it runs in another process, whose failures the parent would never
// see. A sanitizer report in the child's standard error is recorded as a failure, since
// the child's exit code cannot carry it. The real /opt and /etc are never touched.
//
// Example:
//   ovtest::Scenario s;
//   s.files["/opt/Orvan/etc/ov.conf"] = "[ovrte]\nselvan_common_dir = /srv/common\n";
//   ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
//       r.put("log", ov_get_path("/var/Orvan/log"));
//   });
//   OV_EXPECT_SCENARIO_RAN(out);
//   EXPECT_EQ(out.value("log"), "/srv/common/ORV/logs");
//
// Where the kernel refuses the namespaces or the mounts, the Outcome says so (skipped, with
// the reason) and OV_EXPECT_SCENARIO_RAN skips the test with that reason.
//
// runScenario forks, so call it from the test's own thread while no other thread of the
// test process is running.
#ifndef OV_TESTS_HARNESS_SCENARIO_H
#define OV_TESTS_HARNESS_SCENARIO_H

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovtest {

struct Scenario {
    // Absolute path -> contents. Parent directories are created (0755); files are 0644.
    // Write them under a directory of `mounts` so they land on the private tmpfs.
    std::map<std::string, std::string> files;
    // Environment of the body: name -> value, or nullopt to unset the variable. Variables
    // not named here keep the test process's values.
    std::map<std::string, std::optional<std::string>> env;
    // Directories that get an empty private tmpfs.
    std::vector<std::string> mounts{"/opt", "/etc"};
    // The child is killed after this long and the Outcome says it timed out.
    int timeoutSeconds = 60;
};

// What the body observed, sent to the parent. Keys are free text; putting a key again
// replaces its value.
class Report {
public:
    void put(std::string_view key, std::string_view value);
    // A null text is recorded as null, distinct from "".
    void put(std::string_view key, const char* value);
    void put(std::string_view key, long long value);
    void putNull(std::string_view key);
    // Records a failed check; the parent's OV_EXPECT_SCENARIO_RAN reports each one.
    void fail(std::string_view what);
    // fail(what) unless `ok`; returns `ok`.
    bool check(bool ok, std::string_view what);

    // Used by the harness to write the records.
    explicit Report(int fd) : fd_(fd) {}

private:
    void write(char type, std::string_view key, std::string_view value);
    int fd_;
};

struct Outcome {
    bool skipped = false;  // the namespaces or mounts were refused; see skipReason
    std::string skipReason;
    bool timedOut = false;
    bool exited = false;                                       // the child ended by _exit / exit
    int exitCode = -1;                                         // its exit code when exited
    int signal = 0;                                            // the signal that ended it otherwise
    std::map<std::string, std::optional<std::string>> values;  // nullopt: put as null
    std::vector<std::string> failures;
    std::string errText;  // everything the child wrote to standard error
    std::string outText;  // everything the child wrote to standard output

    // The body ran to its end and returned, with no failed check.
    bool ok() const { return !skipped && !timedOut && exited && exitCode == 0 && failures.empty(); }
    bool has(const std::string& key) const { return values.count(key) != 0; }
    bool isNull(const std::string& key) const;
    // The value of `key`; "<null>" for a null, "<missing>" when the body never put it.
    std::string value(const std::string& key) const;
    // A readable summary of all of the above, for assertion messages.
    std::string describe() const;
};

// Runs `body` in a child process set up as described at the top of this header, waits for
// it and returns what it reported. A body that throws is recorded as a failure.
Outcome runScenario(const Scenario& scenario, const std::function<void(Report&)>& body);

}  // namespace ovtest

// In a gtest test body: skips the test when the scenario could not be set up, and otherwise
// fails it (without returning) unless the body ran cleanly, showing the child's report.
#define OV_EXPECT_SCENARIO_RAN(outcome)                                                      \
    do {                                                                                     \
        if ((outcome).skipped) GTEST_SKIP() << "scenario skipped: " << (outcome).skipReason; \
        EXPECT_TRUE((outcome).ok()) << (outcome).describe();                                 \
    } while (0)

#endif  // OV_TESTS_HARNESS_SCENARIO_H
