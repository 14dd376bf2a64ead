// `ovutil value encode|decode`: the reversible value encoder.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include <ovutil/encode.h>

#include "commands.h"
#include "tool.h"

namespace ovtool {

namespace {

int printCoded(char* (*code)(const char*), const std::string& value) {
    char* out = code(value.c_str());
    if (!out) throw std::bad_alloc();
    std::string line = std::string(out) + "\n";
    std::free(out);
    writeOutput(line);
    return kOk;
}

}  // namespace

int valueEncode(const std::string& value) { return printCoded(util_encode, value); }

int valueDecode(const std::string& value) {
    // A value that carries the marker decodes to something shorter; util_decode gives such a
    // value back unchanged only when it cannot decode it, after writing a complaint of its own
    // to standard output, which must not reach the caller's output.
    const bool encoded = value.size() > 2 && value.compare(0, 3, symb, 3) == 0;
    std::fflush(stdout);
    int saved = encoded ? ::dup(STDOUT_FILENO) : -1;
    int devNull = saved >= 0 ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    if (devNull >= 0) ::dup2(devNull, STDOUT_FILENO);
    char* out = util_decode(value.c_str());
    if (devNull >= 0) {
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(devNull);
    }
    if (saved >= 0) ::close(saved);
    if (!out) throw std::bad_alloc();
    std::string decoded(out);
    std::free(out);
    if (encoded && decoded == value) throw Failure{kMsgCannotDecode, {value}};
    writeOutput(decoded + "\n");
    return kOk;
}

}  // namespace ovtool
