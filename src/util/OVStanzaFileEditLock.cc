// The edit hold of a stanza file, and the edit of a registered file under it.
//
// The hold is a flock(2) lock on the file's own open file description. Stores replace the file
// by renaming a new one over it, so a process that waited on the old file would hold a lock
// nobody else will ask for again: after taking the lock, the hold checks that the path still
// names the file it locked, and starts over on the new file when it does not. A file to be
// created is held through its directory while it is absent; whoever then finds the file locks
// the file, and a file can only appear at the path through the store of a holder (or a process
// that takes no hold at all). The name is resolved once per attempt (symbolic links, "..")
// and the hold keeps that resolved path, so that the load and the store of the edit work on
// the file that was locked even when a link is switched meanwhile.
//
// The process keeps a table of the holds it has, with the thread that took each, so that the
// post-load upgrade of a file this thread holds does not wait for itself.
#include <ovutil/OVStanzaFileProperties.h>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <ovz/exceptions.h>

#include "internal/editlock.h"

namespace {

// Exceptions of the edit hold name the source unit of the class it belongs to,
// src/util/OVStanzaFileProperties, as those of the rest of the class do.
constexpr char kSourceFile[] = "src/util/OVStanzaFileProperties";

using Clock = std::chrono::steady_clock;

// How long the hold waits before it tells the caller's notice who holds the file.
constexpr auto kNoticeAfter = std::chrono::seconds(1);

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

// The holds of this process, with the thread that took each.
// A child process inherits the table with the parent's holds, which are not its own: each
// entry carries the process that took it.
struct Held {
    const OVStanzaFileEditLock* hold;
    pid_t pid;
    pthread_t owner;
    dev_t dev;
    ino_t ino;
    std::string path;
};

struct HeldTable {
    std::mutex lock;
    std::vector<Held> holds;
};

// Lives as long as the process: a hold may be released from a static destructor.
HeldTable& heldTable() {
    static HeldTable* const table = new HeldTable;
    return *table;
}

// The resolved path of `fileName` (symbolic links and ".." resolved), or "" when it cannot be
// resolved.
std::string realPathOf(const char* fileName) {
    char* real = ::realpath(fileName, nullptr);
    if (real == nullptr) return std::string();
    std::string path(real);
    std::free(real);
    return path;
}

// What the hold is to lock: the resolved path of the file; for a file that is absent and may
// be created, the resolved path of its directory followed by its base name. A dangling
// symbolic link is refused with what is wrong: a store would have to create its target.
std::string resolveTarget(const char* fileName, int flags) {
    std::string real = realPathOf(fileName);
    if (!real.empty()) return real;
    const int err = errno;
    struct stat link;
    if (err == ENOENT && ::lstat(fileName, &link) == 0 && S_ISLNK(link.st_mode)) {
        char target[PATH_MAX];
        ssize_t n = ::readlink(fileName, target, sizeof target - 1);
        std::string reason = "it is a symbolic link to ";
        reason += n >= 0 ? std::string(target, static_cast<size_t>(n)) : std::string("a file");
        reason += ", which does not exist";
        cannotOpen(fileName, reason.c_str());
    }
    if (err != ENOENT || !(flags & OVStanzaFileEditLock::kMayCreate))
        cannotOpen(fileName, std::strerror(err));
    const std::string dir = directoryOf(fileName);
    std::string realDir = realPathOf(dir.c_str());
    if (realDir.empty())
        cannotOpen(fileName,
                   ("its directory " + dir + " cannot be opened: " + std::strerror(errno)).c_str());
    const char* slash = std::strrchr(fileName, '/');
    const char* base = slash != nullptr ? slash + 1 : fileName;
    if (*base == '\0') cannotOpen(fileName, std::strerror(EISDIR));
    if (realDir != "/") realDir.push_back('/');
    return realDir + base;
}

// The process that holds a lock on the file open on `fd`, from the system's lock table
// (/proc/locks): 0 when none is listed or the table cannot be read.
long holderOf(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return 0;
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::FILE* table = std::fopen("/proc/locks", "re");
    if (table == nullptr) return 0;
    long holder = 0;
    char line[512];
    while (holder == 0 && std::fgets(line, sizeof line, table) != nullptr) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; waiters carry "->" and are
        // skipped.
        if (std::strstr(line, "->") != nullptr) continue;
        char kind[16], advisory[16], mode[16], where[64];
        long pid = 0;
        if (std::sscanf(line, "%*[^:]: %15s %15s %15s %ld %63s", kind, advisory, mode, &pid,
                        where) == 5 &&
            std::strcmp(where, wanted) == 0 && pid > 0)
            holder = pid;
    }
    std::fclose(table);
    return holder;
}

// " (held by process N)" when the holder is known, else "".
std::string heldBy(long holder) {
    return holder > 0 ? " (held by process " + std::to_string(holder) + ")" : std::string();
}

// Waits for an exclusive flock on `fd` until `deadline`, trying at growing intervals (up to
// 16 ms, with the process id spreading the first ones so that many waiters do not try in step).
// After a second of waiting, `notice` (when set) learns who holds the lock. Returns false
// when the time ran out; `holder` then names the process that held it, when known.
bool lockBefore(int fd, Clock::time_point deadline, const char* fileName,
                const OVStanzaFileEditLock::WaitNotice& notice, long& holder) {
    long micros = 200 + getpid() % 300;
    const Clock::time_point noticeAt = Clock::now() + kNoticeAfter;
    bool noticed = false;
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
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            holder = holderOf(fd);
            return false;
        }
        if (!noticed && notice && now >= noticeAt) {
            noticed = true;
            notice(holderOf(fd));
        }
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

// Opens what the hold locks: the file at the resolved path `target`, or its directory when the
// file is absent and may be created (`onDirectory` tells which). O_NONBLOCK and O_NOCTTY: a
// FIFO or a device at the path is refused, not waited on or taken as a terminal. The
// descriptor is only locked, never read.
int openTarget(const char* fileName, const std::string& target, int flags, bool& onDirectory) {
    onDirectory = false;
    Descriptor fd(open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() >= 0) {
        struct stat st;
        if (fstat(fd.get(), &st) != 0) cannotOpen(fileName, std::strerror(errno));
        if (!S_ISREG(st.st_mode)) cannotOpen(fileName, "not a regular file");
        return fd.release();
    }
    if (errno != ENOENT || !(flags & OVStanzaFileEditLock::kMayCreate))
        cannotOpen(fileName, std::strerror(errno));
    const std::string dir = directoryOf(target.c_str());
    Descriptor dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0)
        cannotOpen(fileName,
                   ("its directory " + dir + " cannot be opened: " + std::strerror(errno)).c_str());
    onDirectory = true;
    return dirFd.release();
}

// The calling thread's edit through editRegisteredPropertiesFor, if any.
thread_local ovutil_internal::DeferredUpgrade* tDeferred = nullptr;
thread_local bool tSuppressed = false;

// Sets the calling thread's edit for its lifetime (edits nest: the inner one is current).
class DeferralScope {
public:
    explicit DeferralScope(ovutil_internal::DeferredUpgrade* deferred) : before_(tDeferred) {
        tDeferred = deferred;
    }
    ~DeferralScope() { tDeferred = before_; }
    DeferralScope(const DeferralScope&) = delete;
    DeferralScope& operator=(const DeferralScope&) = delete;

private:
    ovutil_internal::DeferredUpgrade* before_;
};

}  // namespace

namespace ovutil_internal {

bool thisThreadHoldsEdit(const char* fileName) {
    struct stat st;
    const bool exists = ::stat(fileName, &st) == 0;
    const std::string real = realPathOf(fileName);
    HeldTable& table = heldTable();
    std::lock_guard<std::mutex> guard(table.lock);
    for (const Held& h : table.holds) {
        if (h.pid != getpid() || !pthread_equal(h.owner, pthread_self())) continue;
        if ((exists && h.dev == st.st_dev && h.ino == st.st_ino) ||
            (!real.empty() && h.path == real))
            return true;
    }
    return false;
}

DeferredUpgrade* deferredUpgradeFor(const char* fileName) {
    if (tDeferred == nullptr || fileName == nullptr || tDeferred->pid != getpid()) return nullptr;
    if (tDeferred->path == fileName) return tDeferred;
    struct stat st;
    if (::stat(fileName, &st) == 0 && st.st_dev == tDeferred->dev && st.st_ino == tDeferred->ino)
        return tDeferred;
    const std::string real = realPathOf(fileName);
    return !real.empty() && real == tDeferred->path ? tDeferred : nullptr;
}

bool upgradeSuppressed() { return tSuppressed; }

SuppressUpgrade::SuppressUpgrade() : before_(tSuppressed) { tSuppressed = true; }
SuppressUpgrade::~SuppressUpgrade() { tSuppressed = before_; }

}  // namespace ovutil_internal

OVStanzaFileEditLock::OVStanzaFileEditLock(const char* fileName, unsigned timeoutMs, int flags)
    : OVStanzaFileEditLock(fileName, timeoutMs, flags, WaitNotice()) {}

OVStanzaFileEditLock::OVStanzaFileEditLock(const char* fileName, unsigned timeoutMs, int flags,
                                           const WaitNotice& notice)
    : fd_(-1), onDirectory_(false) {
    if (fileName == nullptr || *fileName == '\0')
        ZInvalidParameterException_6_0(fileName == nullptr ? "file name is null"
                                                           : "file name is empty")
            .throwException(kSourceFile, __LINE__);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    WaitNotice once = notice;  // told at most once, however often the hold starts over
    for (;;) {
        const std::string target = resolveTarget(fileName, flags);
        bool onDirectory = false;
        Descriptor fd(openTarget(fileName, target, flags, onDirectory));
        long holder = 0;
        const WaitNotice tell = [&once](long pid) {
            if (!once) return;
            WaitNotice call = std::move(once);
            once = nullptr;
            call(pid);
        };
        if (!lockBefore(fd.get(), deadline, fileName, tell, holder))
            ZException_6_0(ZEXC_LOCK_FAILURE,
                           {(std::string("the edit lock of ") + fileName + " was not free within " +
                             std::to_string(timeoutMs) +
                             " ms: another process or thread is editing the file" + heldBy(holder))
                                .c_str()})
                .throwException(kSourceFile, __LINE__);
        // Held. It counts only if the resolved path still names what was locked: a store may
        // have replaced the file while this hold waited, or created the file this hold meant
        // to create. Then start over on what is there now.
        struct stat st;
        const bool current = onDirectory ? stat(target.c_str(), &st) != 0 && errno == ENOENT
                                         : stillAt(fd.get(), target.c_str());
        if (!current) continue;
        if (fstat(fd.get(), &st) != 0) cannotOpen(fileName, std::strerror(errno));
        path_ = target;
        HeldTable& table = heldTable();
        {
            std::lock_guard<std::mutex> guard(table.lock);
            table.holds.push_back(
                Held{this, getpid(), pthread_self(), st.st_dev, st.st_ino, target});
        }
        fd_ = fd.release();
        onDirectory_ = onDirectory;
        return;
    }
}

OVStanzaFileEditLock::~OVStanzaFileEditLock() {
    HeldTable& table = heldTable();
    bool mine = false;
    {
        std::lock_guard<std::mutex> guard(table.lock);
        for (auto it = table.holds.begin(); it != table.holds.end(); ++it) {
            if (it->hold == this) {
                mine = it->pid == getpid();
                table.holds.erase(it);
                break;
            }
        }
    }
    // The lock belongs to the open file description, which a child forked meanwhile shares:
    // the process that took the hold releases it explicitly, so that such a child does not
    // keep it; a child deleting a hold it inherited only closes its descriptor and leaves the
    // parent's hold alone.
    if (mine) flock(fd_, LOCK_UN);
    close(fd_);
}

int OVStanzaFileProperties::editRegisteredPropertiesFor(
    const char* fileName, const std::function<bool(ZStanzaFileProperties_6_0&)>& edit,
    unsigned timeoutMs) {
    // The registry's object first, outside the hold: its first load may be another thread's,
    // whose upgrade may wait for the hold.
    ZStanzaFileProperties_6_0* props = getRegisteredPropertiesFor(fileName, 0);
    OVStanzaFileEditLock hold(fileName, timeoutMs);
    // The load and the store work on the file the hold resolved and locked. A load that finds
    // a file of an earlier release upgrades it in memory only (this thread holds the file), and
    // the one store below writes the upgrade with the edit: a second store would leave the
    // hold on a file no longer at the path.
    ovutil_internal::DeferredUpgrade deferred;
    deferred.pid = getpid();
    deferred.givenName = fileName;
    deferred.path = hold.path();
    struct stat st;
    if (::stat(deferred.path.c_str(), &st) == 0) {
        deferred.dev = st.st_dev;
        deferred.ino = st.st_ino;
    }
    DeferralScope scope(&deferred);
    props->load(hold.path());
    const bool changed = edit(*props);
    if (!changed && !deferred.upgraded) return 0;
    props->store(hold.path());
    return 1;
}
