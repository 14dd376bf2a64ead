// The edit hold of a stanza file, and the edit of a registered file under it.
//
// The hold is a flock(2) lock on the file's own open file description. Stores replace the file
// by renaming a new one over it, so a process that waited on the old file would hold a lock
// nobody else will ask for again: after taking the lock, the hold checks that the path still
// names the file it locked, and starts over on the new file when it does not. A file to be
// created is held through its directory while it is absent; whoever then finds the file locks
// the file, and a file can only appear at the path through the store of a holder (or a process
// that takes no hold at all).
#include <ovutil/OVStanzaFileProperties.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include <ovz/exceptions.h>

namespace {

// Exceptions of the edit hold name the source unit of the class it belongs to,
// src/util/OVStanzaFileProperties, as those of the rest of the class do.
constexpr char kSourceFile[] = "src/util/OVStanzaFileProperties";

using Clock = std::chrono::steady_clock;

[[noreturn]] void cannotOpen(const char* fileName, const char* reason) {
    ZException_6_0(ZEXC_FILE_READ, {fileName, reason}).throwException(kSourceFile, __LINE__);
}

// The directory that holds `fileName` ("." for a bare name, "/" for a name right under it).
std::string directoryOf(const char* fileName) {
    const char* slash = std::strrchr(fileName, '/');
    if (slash == nullptr) return ".";
    if (slash == fileName) return "/";
    return std::string(fileName, slash);
}

// Closes a descriptor on every way out unless released.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Waits for an exclusive flock on `fd` until `deadline`, trying at growing intervals (up to
// 16 ms, with the process id spreading the first ones so that many waiters do not try in step).
// Returns false when the time ran out.
bool lockBefore(int fd, Clock::time_point deadline, const char* fileName) {
    long micros = 200 + getpid() % 300;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
            int err = errno;
            ZException_6_0(ZEXC_LOCK_FAILURE, {(std::string("cannot lock ") + fileName +
                                                " for editing: " + std::strerror(err))
                                                   .c_str()})
                .throwException(kSourceFile, __LINE__);
        }
        if (Clock::now() >= deadline) return false;
        struct timespec pause = {0, micros * 1000};
        nanosleep(&pause, nullptr);
        if (micros < 16000) micros *= 2;
    }
}

// Whether `path` still names the file open on `fd` (the same file, not yet replaced).
bool stillAt(int fd, const char* path) {
    struct stat held, now;
    if (fstat(fd, &held) != 0 || stat(path, &now) != 0) return false;
    return held.st_dev == now.st_dev && held.st_ino == now.st_ino && held.st_nlink > 0;
}

// Opens what the hold locks: the file, or its directory when the file is absent and may be
// created (`onDirectory` tells which). O_NONBLOCK and O_NOCTTY: a FIFO or a device at the path
// is refused, not waited on or taken as a terminal. The descriptor is only locked, never read.
int openTarget(const char* fileName, int flags, bool& onDirectory) {
    onDirectory = false;
    Descriptor fd(open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() >= 0) {
        struct stat st;
        if (fstat(fd.get(), &st) != 0) cannotOpen(fileName, std::strerror(errno));
        if (!S_ISREG(st.st_mode)) cannotOpen(fileName, "not a regular file");
        return fd.release();
    }
    if (errno != ENOENT || !(flags & OVStanzaFileEditLock::kMayCreate))
        cannotOpen(fileName, std::strerror(errno));
    const std::string dir = directoryOf(fileName);
    Descriptor dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0)
        cannotOpen(fileName,
                   ("its directory " + dir + " cannot be opened: " + std::strerror(errno)).c_str());
    onDirectory = true;
    return dirFd.release();
}

}  // namespace

OVStanzaFileEditLock::OVStanzaFileEditLock(const char* fileName, unsigned timeoutMs, int flags)
    : fd_(-1), onDirectory_(false) {
    if (fileName == nullptr || *fileName == '\0')
        ZInvalidParameterException_6_0(fileName == nullptr ? "file name is null"
                                                           : "file name is empty")
            .throwException(kSourceFile, __LINE__);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool onDirectory = false;
        Descriptor fd(openTarget(fileName, flags, onDirectory));
        if (!lockBefore(fd.get(), deadline, fileName))
            ZException_6_0(
                ZEXC_LOCK_FAILURE,
                {(std::string("the edit lock of ") + fileName + " was not free within " +
                  std::to_string(timeoutMs) + " ms: another process or thread is editing the file")
                     .c_str()})
                .throwException(kSourceFile, __LINE__);
        // Held. It counts only if the path still names what was locked: a store may have
        // replaced the file while this hold waited, or created the file this hold meant to
        // create. Then start over on what is there now.
        struct stat st;
        const bool current =
            onDirectory ? stat(fileName, &st) != 0 && errno == ENOENT : stillAt(fd.get(), fileName);
        if (current) {
            fd_ = fd.release();
            onDirectory_ = onDirectory;
            return;
        }
    }
}

OVStanzaFileEditLock::~OVStanzaFileEditLock() { close(fd_); }  // closing drops the lock

int OVStanzaFileProperties::editRegisteredPropertiesFor(
    const char* fileName, const std::function<bool(ZStanzaFileProperties_6_0&)>& edit,
    unsigned timeoutMs) {
    OVStanzaFileEditLock hold(fileName, timeoutMs);
    ZStanzaFileProperties_6_0* props = getRegisteredPropertiesFor(fileName, ZPROPERTIES_RELOAD);
    if (!edit(*props)) return 0;
    props->store();
    return 1;
}
