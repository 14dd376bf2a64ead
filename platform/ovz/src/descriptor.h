// Private: a file descriptor that is closed on every way out of its scope, exceptions included.
#ifndef OVZ_SRC_DESCRIPTOR_H
#define OVZ_SRC_DESCRIPTOR_H

#include <unistd.h>

namespace ovz_internal {

// Owns one descriptor (or none: -1) and closes it when destroyed or replaced.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    // Closes the descriptor held, if any, and holds `fd` instead.
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Hands the descriptor to the caller, who closes it; the guard holds none.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

}  // namespace ovz_internal

#endif
