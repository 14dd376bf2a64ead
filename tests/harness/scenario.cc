#include "harness/scenario.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <exception>
#include <sstream>

namespace ovtest {
namespace {

// Exit codes of the child that are the harness's own, not the body's.
constexpr int kExitSkipped = 77;
constexpr int kExitSetupFailed = 78;

// Records are: type byte, key length, key, value length, value; lengths as 32-bit native.
void writeAll(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

std::string readAll(int fd) {
    std::string out;
    if (lseek(fd, 0, SEEK_SET) < 0) return out;
    char buf[4096];
    for (;;) {
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

int makeBuffer(const char* name) {
    int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) {
        char path[] = "/tmp/ovtest-scenario-XXXXXX";
        fd = mkostemp(path, O_CLOEXEC);
        if (fd >= 0) unlink(path);
    }
    return fd;
}

bool writeFile(const std::string& path, const std::string& text) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    writeAll(fd, text.data(), text.size());
    return close(fd) == 0;
}

bool makeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// Maps the caller's ids to root inside a new user namespace, so that it may mount.
bool enterUserNamespace(std::string& why) {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER) != 0) {
        why = std::string("unshare(CLONE_NEWUSER): ") + strerror(errno);
        return false;
    }
    writeFile("/proc/self/setgroups", "deny");
    if (!writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n")) {
        why = std::string("writing the id maps of the user namespace: ") + strerror(errno);
        return false;
    }
    return true;
}

// Sets up the child's view of the file system. On failure `why` says what was refused.
bool isolate(const Scenario& scenario, std::string& why) {
    if (geteuid() != 0 && !enterUserNamespace(why)) return false;
    if (unshare(CLONE_NEWNS) != 0) {
        why = std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
        return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = std::string("making mounts private: ") + strerror(errno);
        return false;
    }
    for (const std::string& dir : scenario.mounts) {
        if (mount("ovtest", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
            why = "mounting a tmpfs over " + dir + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

[[noreturn]] void runChild(const Scenario& scenario, const std::function<void(Report&)>& body,
                           int reportFd, int outFd, int errFd) {
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    Report report(reportFd);
    std::string why;
    if (!isolate(scenario, why)) {
        report.put("harness.skip", why);
        _exit(kExitSkipped);
    }
    for (const auto& [path, text] : scenario.files) {
        if (!makeParents(path) || !writeFile(path, text)) {
            report.fail("cannot write scenario file " + path + ": " + strerror(errno));
            _exit(kExitSetupFailed);
        }
    }
    for (const auto& [name, value] : scenario.env) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    try {
        body(report);
    } catch (const std::exception& e) {
        report.fail(std::string("body threw ") + e.what());
    } catch (...) {
        report.fail("body threw an exception that is not a std::exception");
    }
    fflush(stdout);
    fflush(stderr);
    // _exit: no static destructors, atexit handlers or leak checks of the forked copy of
    // the test process; the parent judges the report.
    _exit(0);
}

void parseReport(const std::string& data, Outcome& out) {
    size_t pos = 0;
    auto take = [&](std::string& s) {
        uint32_t n;
        if (data.size() - pos < sizeof n) return false;
        memcpy(&n, data.data() + pos, sizeof n);
        pos += sizeof n;
        if (data.size() - pos < n) return false;
        s.assign(data, pos, n);
        pos += n;
        return true;
    };
    while (pos < data.size()) {
        char type = data[pos++];
        std::string key, value;
        if (!take(key) || !take(value)) {
            out.failures.push_back("harness: truncated report from the child");
            return;
        }
        if (type == 'v')
            out.values[key] = value;
        else if (type == 'n')
            out.values[key] = std::nullopt;
        else if (type == 'f')
            out.failures.push_back(value);
    }
}

}  // namespace

void Report::write(char type, std::string_view key, std::string_view value) {
    std::string rec(1, type);
    uint32_t n = static_cast<uint32_t>(key.size());
    rec.append(reinterpret_cast<const char*>(&n), sizeof n);
    rec.append(key);
    n = static_cast<uint32_t>(value.size());
    rec.append(reinterpret_cast<const char*>(&n), sizeof n);
    rec.append(value);
    writeAll(fd_, rec.data(), rec.size());
}

void Report::put(std::string_view key, std::string_view value) { write('v', key, value); }

void Report::put(std::string_view key, const char* value) {
    if (value == nullptr)
        putNull(key);
    else
        write('v', key, value);
}

void Report::put(std::string_view key, long long value) { write('v', key, std::to_string(value)); }

void Report::putNull(std::string_view key) { write('n', key, ""); }

void Report::fail(std::string_view what) { write('f', "", what); }

bool Report::check(bool ok, std::string_view what) {
    if (!ok) fail(what);
    return ok;
}

bool Outcome::isNull(const std::string& key) const {
    auto it = values.find(key);
    return it != values.end() && !it->second;
}

std::string Outcome::value(const std::string& key) const {
    auto it = values.find(key);
    if (it == values.end()) return "<missing>";
    return it->second ? *it->second : "<null>";
}

std::string Outcome::describe() const {
    std::ostringstream s;
    if (skipped) s << "skipped: " << skipReason << "\n";
    if (timedOut) s << "timed out\n";
    if (exited)
        s << "exit code " << exitCode << "\n";
    else
        s << "killed by signal " << signal << " (" << strsignal(signal) << ")\n";
    for (const std::string& f : failures) s << "failed: " << f << "\n";
    for (const auto& [k, v] : values) s << "  " << k << " = " << (v ? *v : "<null>") << "\n";
    if (!errText.empty()) s << "stderr:\n" << errText;
    if (!outText.empty()) s << "stdout:\n" << outText;
    return s.str();
}

Outcome runScenario(const Scenario& scenario, const std::function<void(Report&)>& body) {
    Outcome out;
    int reportFd = makeBuffer("ovtest-report");
    int outFd = makeBuffer("ovtest-stdout");
    int errFd = makeBuffer("ovtest-stderr");
    if (reportFd < 0 || outFd < 0 || errFd < 0) {
        out.failures.push_back(std::string("harness: no buffer for the report: ") +
                               strerror(errno));
        for (int fd : {reportFd, outFd, errFd})
            if (fd >= 0) close(fd);
        return out;
    }
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        out.failures.push_back(std::string("harness: fork: ") + strerror(errno));
    } else if (pid == 0) {
        runChild(scenario, body, reportFd, outFd, errFd);
    } else {
        int status = 0;
        struct timespec start;
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (;;) {
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) break;
            if (r < 0 && errno != EINTR) {
                out.failures.push_back(std::string("harness: waitpid: ") + strerror(errno));
                break;
            }
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (!out.timedOut && now.tv_sec - start.tv_sec >= scenario.timeoutSeconds) {
                out.timedOut = true;
                kill(pid, SIGKILL);
            }
            usleep(2000);
        }
        if (WIFEXITED(status)) {
            out.exited = true;
            out.exitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            out.signal = WTERMSIG(status);
        }
        parseReport(readAll(reportFd), out);
        out.outText = readAll(outFd);
        out.errText = readAll(errFd);
        // The child leaves with _exit, so a sanitizer that only reports (ThreadSanitizer, by
        // default) cannot change its exit code: its report is the only sign.
        for (const char* mark : {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer",
                                 "ERROR: LeakSanitizer", "runtime error:"})
            if (out.errText.find(mark) != std::string::npos)
                out.failures.push_back(std::string("sanitizer report in the child: ") + mark);
        if (out.exited && out.exitCode == kExitSkipped && out.has("harness.skip")) {
            out.skipped = true;
            out.skipReason = out.value("harness.skip");
            out.values.erase("harness.skip");
        }
    }
    close(reportFd);
    close(outFd);
    close(errFd);
    return out;
}

}  // namespace ovtest
