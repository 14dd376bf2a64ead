// A scratch directory for one test: made under TMPDIR (or /tmp), removed with everything in it
// when the object goes. Header-only; tests include it as "harness/temp_dir.h".
#ifndef OVUTIL_TESTS_HARNESS_TEMP_DIR_H
#define OVUTIL_TESTS_HARNESS_TEMP_DIR_H

#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ovtest {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/ovutil-test-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = buf.data();
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        // A test may have left a directory without write permission.
        const std::string cmd =
            "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << path_;
    }

    const std::string& path() const { return path_; }

    // Writes `text` to the file `name` in the directory; returns its path.
    std::string file(const std::string& name, const std::string& text) const {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }

private:
    std::string path_;
};

}  // namespace ovtest

#endif  // OVUTIL_TESTS_HARNESS_TEMP_DIR_H
