#include "tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <ovutil/wvmsg.h>
#include <ovz/exceptions.h>

namespace ovtool {

namespace {

// Reads the argument number of a conversion "%n$" at text[i] (after the "%"); returns the
// index past "$" and sets `position`, or returns i unchanged when there is none.
size_t positionalArgument(const std::string& text, size_t i, size_t& position) {
    size_t j = i;
    size_t n = 0;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') n = n * 10 + (text[j++] - '0');
    if (j > i && j < text.size() && text[j] == '$' && n > 0) {
        position = n;
        return j + 1;
    }
    return i;
}

}  // namespace

std::string formatMessage(unsigned number, const std::vector<Insert>& inserts) {
    const char* found = wv_i18n_msg(number);
    std::string text = found ? found : "";
    std::string out;
    size_t next = 0;  // the insert an unnumbered conversion takes
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        if (text[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t position = 0;
        size_t j = positionalArgument(text, i + 1, position);
        // Skip flags, width and length modifiers up to the conversion letter.
        while (j < text.size() && std::strchr("-+ #0123456789.lhz", text[j])) ++j;
        if (j >= text.size()) {
            out.append(text, i, std::string::npos);
            break;
        }
        size_t index = position ? position - 1 : next++;
        if (index < inserts.size()) {
            const Insert& in = inserts[index];
            out += in.isNumber ? std::to_string(in.number) : in.text;
        }
        i = j;
    }
    return out;
}

void printError(unsigned number, const std::vector<Insert>& inserts) {
    std::string line = formatMessage(number, inserts);
    std::fprintf(stderr, "ovutil: 0x%08X: %s\n", number, line.c_str());
}

std::string readDescriptor(int fd, const std::string& name, size_t limit) {
    auto tooLarge = [&] { return Failure{kMsgTooLarge, {name, std::to_string(limit)}}; };
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uintmax_t>(st.st_size) > limit)
        throw tooLarge();
    std::string bytes;
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw Failure{kMsgCannotRead, {name, std::strerror(errno)}};
        if (n == 0) break;
        // Checked before the bytes are kept: the input never costs more than its limit.
        if (static_cast<size_t>(n) > limit - bytes.size()) throw tooLarge();
        bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
}

std::string readInput(const std::string& path, size_t limit) {
    if (path == "-") return readDescriptor(0, path, limit);
    // Non-blocking open so that a FIFO without a writer cannot hang the tool.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw Failure{kMsgCannotRead, {path, std::strerror(errno)}};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Failure{kMsgCannotRead, {path, "not a regular file"}};
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    try {
        std::string bytes = readDescriptor(fd, path, limit);
        ::close(fd);
        return bytes;
    } catch (...) {
        ::close(fd);
        throw;
    }
}

void writeOutput(const std::string& bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
        throw Failure{kMsgCannotWrite, {std::strerror(errno)}};
    if (std::fflush(stdout) != 0) throw Failure{kMsgCannotWrite, {std::strerror(errno)}};
}

void OutputStream::flush() {
    if (used_ != 0 && std::fwrite(buffer_, 1, used_, stdout) != used_)
        throw Failure{kMsgCannotWrite, {std::strerror(errno)}};
    used_ = 0;
}

void OutputStream::spill(std::string_view bytes) {
    flush();
    if (bytes.size() < sizeof buffer_) {
        std::memcpy(buffer_, bytes.data(), bytes.size());
        used_ = bytes.size();
    } else if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
        throw Failure{kMsgCannotWrite, {std::strerror(errno)}};
    }
}

void OutputStream::finish() {
    flush();
    if (std::fflush(stdout) != 0) throw Failure{kMsgCannotWrite, {std::strerror(errno)}};
}

Failure exceptionFailure(const ZException_6_0& e) {
    const int kind = e.kind();
    const char* format = zexceptionFormat_6_0(kind);
    if (!format) {
        // A kind without a message of its own is logged with the generic exception message.
        return Failure{OV_MSG_OVZ_EXCEPTION,
                       {e.text(), e.sourceFile(), long{e.sourceLine()}, long{kind}}};
    }
    // The numbers skip kind 23, which has no message.
    const unsigned number = kind <= 22 ? OV_MSG_OVZ_EXCEPTION + static_cast<unsigned>(kind)
                                       : OV_MSG_OVZ_EXCEPTION_KIND_24 + (kind - 24u);
    // The kind's format says which stored insert is a number ("%d") and which a text.
    std::vector<Insert> inserts;
    size_t k = 0;
    for (const ZExceptionInsert_6_0& in : e.inserts()) {
        while (format[k] && format[k] != '%') ++k;
        bool isNumber = format[k] == '%' && format[k + 1] == 'd';
        if (format[k]) k += 2;
        inserts.push_back(isNumber ? Insert(long{in.number()}) : Insert(in.text()));
    }
    return Failure{number, inserts};
}

std::string waitSecondsProblem(std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || !std::isfinite(seconds))
        return "a finite number of seconds is needed, not '" + text + "'";
    if (seconds < 0.0 || seconds > 86400.0)
        return "0 to 86400 seconds are allowed, not '" + text + "'";
    return std::string();
}

std::function<void(long)> lockWaitNotice(const std::string& file) {
    return [file](long holder) {
        printError(kMsgLockWait,
                   {file, holder > 0 ? std::to_string(holder) : std::string("unknown")});
    };
}

std::string editTarget(const std::string& given, const std::string& held) {
    std::string absolute = given;
    if (given.empty() || given[0] != '/') {
        char* cwd = ::getcwd(nullptr, 0);
        if (cwd == nullptr) return held;
        absolute = std::string(cwd) + "/" + given;
        std::free(cwd);
    }
    // "." and repeated slashes taken out and ".." applied to the text: the same as the real
    // path only when no symbolic link is on the way.
    std::vector<std::string> parts;
    for (size_t i = 0; i <= absolute.size();) {
        size_t end = absolute.find('/', i);
        if (end == std::string::npos) end = absolute.size();
        std::string part = absolute.substr(i, end - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = end + 1;
    }
    std::string normal;
    for (const std::string& part : parts) {
        normal.push_back('/');
        normal.append(part);
    }
    if (normal.empty()) normal.push_back('/');
    struct stat link;
    const bool lastIsLink = ::lstat(given.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    return normal == held && !lastIsLink ? given : held;
}

int runGuarded(const std::function<int()>& body) {
    try {
        return body();
    } catch (const Failure& f) {
        printError(f.number, f.inserts);
        return f.status;
    } catch (const ZException_6_0& e) {
        Failure f = exceptionFailure(e);
        printError(f.number, f.inserts);
        return kFailed;
    } catch (const std::bad_alloc&) {
        printError(OV_MSG_OUT_OF_MEMORY, {});
        return kFailed;
    }
}

}  // namespace ovtool
