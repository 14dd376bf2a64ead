// An 8-bit locale for tests of text handling: de_DE.ISO-8859-1, compiled with localedef into
// a private directory once per test process, since few systems have one installed.
//
//   const ovtest::EightBitLocale& latin1 = ovtest::eightBitLocale();
//   if (latin1.unavailable()) GTEST_SKIP() << latin1.why;
//   ASSERT_TRUE(latin1.ready()) << latin1.why;  // localedef was there but failed
//   ovtest::CTypeScope scope(latin1);           // LC_CTYPE is ISO-8859-1 until the scope ends
//   ovtest::withLocale(scenario, EightBitLocale::kName, &latin1);  // a scenario's child too
//
// The C library reads compiled locales from LOCPATH when that variable is set, and then
// ignores its own directories (where C.UTF-8 lives). So LOCPATH is set only while a locale
// is being chosen (CTypeScope), or in the environment of a scenario's child process
// (withLocale), never left set in the test process.
//
// Skipped (unavailable) only when localedef or its sources are missing: localedef comes with
// libc-bin, the locale source and the character map with the package "locales".
#ifndef OV_TESTS_HARNESS_EIGHT_BIT_LOCALE_H
#define OV_TESTS_HARNESS_EIGHT_BIT_LOCALE_H

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <optional>
#include <string>

#include "harness/scenario.h"

extern char** environ;

namespace ovtest {

class EightBitLocale {
public:
    static constexpr const char* kName = "de_DE.ISO-8859-1";

    bool ready() const { return state_ == kReady; }
    bool unavailable() const { return state_ == kUnavailable; }
    // The directory to name in LOCPATH.
    const std::string& dir() const { return dir_; }
    std::string why;

    EightBitLocale() { build(); }
    ~EightBitLocale() {
        // Children forked by the tests leave with _exit; only the process that made the
        // directory removes it.
        std::error_code ignored;
        if (!dir_.empty() && getpid() == owner_) std::filesystem::remove_all(dir_, ignored);
    }
    EightBitLocale(const EightBitLocale&) = delete;
    EightBitLocale& operator=(const EightBitLocale&) = delete;

private:
    enum State { kReady, kUnavailable, kFailed };

    static bool exists(const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0;
    }

    static std::string findLocaledef() {
        const char* path = getenv("PATH");
        std::string dirs = std::string(path ? path : "") + ":/usr/bin:/usr/sbin:/bin:/sbin";
        size_t start = 0;
        while (start <= dirs.size()) {
            size_t colon = dirs.find(':', start);
            if (colon == std::string::npos) colon = dirs.size();
            std::string candidate = dirs.substr(start, colon - start) + "/localedef";
            if (colon > start && access(candidate.c_str(), X_OK) == 0) return candidate;
            start = colon + 1;
        }
        return "";
    }

    void build() {
        state_ = kUnavailable;
        std::string localedef = findLocaledef();
        if (localedef.empty()) {
            why = "localedef is not installed (package libc-bin): no 8-bit locale to test in";
            return;
        }
        const std::string i18n = "/usr/share/i18n";
        if (!exists(i18n + "/locales/de_DE") ||
            !(exists(i18n + "/charmaps/ISO-8859-1.gz") || exists(i18n + "/charmaps/ISO-8859-1"))) {
            why =
                "the locale source de_DE or the character map ISO-8859-1 is missing "
                "(package locales): no 8-bit locale to test in";
            return;
        }
        state_ = kFailed;
        char tmpl[] = "/tmp/ovtest-locale-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            why = "cannot make a directory for the locale";
            return;
        }
        dir_ = tmpl;
        owner_ = getpid();
        const std::string out = dir_ + "/" + kName;
        const char* argv[] = {localedef.c_str(), "-i",        "de_DE", "-f",
                              "ISO-8859-1",      out.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        int rc = posix_spawn(&pid, localedef.c_str(), &actions, nullptr,
                             const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (rc != 0 || waitpid(pid, &status, 0) != pid) {
            why = "cannot run " + localedef;
            return;
        }
        // Exit status 1 means warnings only; the locale is made all the same.
        bool exited = WIFEXITED(status) && WEXITSTATUS(status) <= 1;
        if (!exited || !exists(out + "/LC_CTYPE")) {
            why = localedef + " -i de_DE -f ISO-8859-1 " + out + " failed (status " +
                  std::to_string(status) + ")";
            return;
        }
        state_ = kReady;
        why.clear();
    }

    State state_ = kUnavailable;
    std::string dir_;
    pid_t owner_ = 0;
};

// The locale of this test process, made on first use.
inline const EightBitLocale& eightBitLocale() {
    static EightBitLocale locale;
    return locale;
}

// Sets LC_CTYPE to `name` (a locale of `latin1`'s directory, or any system locale when
// `latin1` is null) for the life of the scope, and puts the previous one back.
class CTypeScope {
public:
    explicit CTypeScope(const EightBitLocale& latin1)
        : CTypeScope(EightBitLocale::kName, &latin1) {}
    explicit CTypeScope(const char* name, const EightBitLocale* from = nullptr) {
        const char* old = std::setlocale(LC_CTYPE, nullptr);
        previous_ = old ? old : "C";
        std::optional<std::string> locpath;
        if (from != nullptr) {
            if (const char* v = getenv("LOCPATH")) locpath = v;
            setenv("LOCPATH", from->dir().c_str(), 1);
        }
        ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
        if (from != nullptr) {
            if (locpath)
                setenv("LOCPATH", locpath->c_str(), 1);
            else
                unsetenv("LOCPATH");
        }
    }
    ~CTypeScope() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    CTypeScope(const CTypeScope&) = delete;
    CTypeScope& operator=(const CTypeScope&) = delete;
    bool ok() const { return ok_; }

private:
    std::string previous_;
    bool ok_ = false;
};

// A scenario whose child starts in `locale`: LC_ALL and LANG name it, and LOCPATH names the
// directory of `latin1` when it is given (else LOCPATH is unset). The child's locale takes
// effect when it calls setlocale(LC_ALL, ""), as wvmsg_init does.
inline void withLocale(Scenario& s, const char* locale, const EightBitLocale* latin1 = nullptr) {
    s.env["LC_ALL"] = std::string(locale);
    s.env["LANG"] = std::string(locale);
    if (latin1 != nullptr)
        s.env["LOCPATH"] = latin1->dir();
    else
        s.env["LOCPATH"] = std::nullopt;
}

}  // namespace ovtest

#endif  // OV_TESTS_HARNESS_EIGHT_BIT_LOCALE_H
