// Mutex, reader/writer locks, and the named and file-based reader/writer locks.
#include <ovz/locks.h>

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <ovz/exceptions.h>

#include "descriptor.h"

namespace {

[[noreturn]] void lockFailure(const std::string& description) {
    ZException_6_0(ZEXC_LOCK_FAILURE, {description}).throwException(__FILE__, __LINE__);
}

[[noreturn]] void lockFailure(const std::string& what, int err) {
    lockFailure(what + ": " + std::strerror(err));
}

void check(int rc, const char* what) {
    if (rc != 0) lockFailure(what, rc);
}

// Waiting writers go before new readers, so a steady stream of readers cannot starve them.
void initReadWrite(pthread_rwlock_t* lock) {
    pthread_rwlockattr_t attr;
    check(pthread_rwlockattr_init(&attr), "pthread_rwlockattr_init");
    pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    int rc = pthread_rwlock_init(lock, &attr);
    pthread_rwlockattr_destroy(&attr);
    check(rc, "pthread_rwlock_init");
}

bool tryOrThrow(int rc, const char* what) {
    if (rc == 0) return true;
    if (rc == EBUSY) return false;
    lockFailure(what, rc);
}

// Named shared state lives in a process-wide registry; entries made before a fork belong
// to the parent (their locks may be held by threads the child does not have) and are
// ignored by the child. The mutex and both registries are made on first use under
// pthread_once and never destroyed.
pthread_once_t registryMutex_once = PTHREAD_ONCE_INIT;
std::mutex* registryMutex_ = nullptr;

std::mutex& registryMutex() {
    pthread_once(&registryMutex_once, [] { registryMutex_ = new std::mutex(); });
    return *registryMutex_;
}

// A lock name names a file inside the lock directory, nothing else.
void checkLockName(const char* name) {
    if (name == nullptr)
        ZInvalidParameterException_6_0("lock name is null").throwException(__FILE__, __LINE__);
    if (*name == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
        std::strchr(name, '/') != nullptr)
        ZInvalidParameterException_6_0(
            (std::string("lock name \"") + name + "\" is not a file name inside the lock directory")
                .c_str())
            .throwException(__FILE__, __LINE__);
}

}  // namespace

// ---- ZLock_6_0

ZLock_6_0::ZLock_6_0() { check(pthread_mutex_init(&mutex_, nullptr), "pthread_mutex_init"); }

ZLock_6_0::~ZLock_6_0() { pthread_mutex_destroy(&mutex_); }

void ZLock_6_0::fail(int err, const char* what) { lockFailure(what, err); }

bool ZLock_6_0::tryLock() {
    const unsigned long self = static_cast<unsigned long>(pthread_self());
    if (__atomic_load_n(&owner_, __ATOMIC_RELAXED) == self) return false;
    if (!tryOrThrow(pthread_mutex_trylock(&mutex_), "pthread_mutex_trylock")) return false;
    __atomic_store_n(&owner_, self, __ATOMIC_RELAXED);
    return true;
}

// ---- ZAbstractReadWriteLock_6_0 / ZReadWriteLock_6_0

ZAbstractReadWriteLock_6_0::~ZAbstractReadWriteLock_6_0() = default;

ZReadWriteLock_6_0::ZReadWriteLock_6_0() { initReadWrite(&lock_); }
ZReadWriteLock_6_0::~ZReadWriteLock_6_0() { pthread_rwlock_destroy(&lock_); }
void ZReadWriteLock_6_0::readLock() {
    check(pthread_rwlock_rdlock(&lock_), "pthread_rwlock_rdlock");
}
void ZReadWriteLock_6_0::writeLock() {
    check(pthread_rwlock_wrlock(&lock_), "pthread_rwlock_wrlock");
}
void ZReadWriteLock_6_0::unlock() { check(pthread_rwlock_unlock(&lock_), "pthread_rwlock_unlock"); }
bool ZReadWriteLock_6_0::tryReadLock() {
    return tryOrThrow(pthread_rwlock_tryrdlock(&lock_), "pthread_rwlock_tryrdlock");
}
bool ZReadWriteLock_6_0::tryWriteLock() {
    return tryOrThrow(pthread_rwlock_trywrlock(&lock_), "pthread_rwlock_trywrlock");
}

// ---- ZStubProcessReadWriteFileLock_6_0

struct ZStubProcessReadWriteFileLock_6_0::Shared {
    std::string name;
    pid_t pid;
    int refs;
    pthread_rwlock_t lock;
};

namespace {
std::map<std::string, ZStubProcessReadWriteFileLock_6_0::Shared*>& stubRegistry();
}

ZStubProcessReadWriteFileLock_6_0::ZStubProcessReadWriteFileLock_6_0(const char* name) {
    // The names a file lock would refuse are refused here too, so that a program behaves the
    // same whichever kind of lock its factory makes.
    checkLockName(name);
    std::lock_guard<std::mutex> hold(registryMutex());
    auto& registry = stubRegistry();
    auto it = registry.find(name);
    if (it != registry.end() && it->second->pid == getpid()) {
        shared_ = it->second;
        ++shared_->refs;
        return;
    }
    auto* s = new Shared{name, getpid(), 1, {}};
    try {
        initReadWrite(&s->lock);
    } catch (...) {
        delete s;
        throw;
    }
    registry[name] = s;  // a parent's entry, if any, is dropped from the child's table
    shared_ = s;
}

ZStubProcessReadWriteFileLock_6_0::~ZStubProcessReadWriteFileLock_6_0() {
    std::lock_guard<std::mutex> hold(registryMutex());
    if (--shared_->refs > 0) return;
    auto& registry = stubRegistry();
    auto it = registry.find(shared_->name);
    if (it != registry.end() && it->second == shared_) registry.erase(it);
    pthread_rwlock_destroy(&shared_->lock);
    delete shared_;
}

void ZStubProcessReadWriteFileLock_6_0::readLock() {
    check(pthread_rwlock_rdlock(&shared_->lock), "pthread_rwlock_rdlock");
}
void ZStubProcessReadWriteFileLock_6_0::writeLock() {
    check(pthread_rwlock_wrlock(&shared_->lock), "pthread_rwlock_wrlock");
}
void ZStubProcessReadWriteFileLock_6_0::unlock() {
    check(pthread_rwlock_unlock(&shared_->lock), "pthread_rwlock_unlock");
}
bool ZStubProcessReadWriteFileLock_6_0::tryReadLock() {
    return tryOrThrow(pthread_rwlock_tryrdlock(&shared_->lock), "pthread_rwlock_tryrdlock");
}
bool ZStubProcessReadWriteFileLock_6_0::tryWriteLock() {
    return tryOrThrow(pthread_rwlock_trywrlock(&shared_->lock), "pthread_rwlock_trywrlock");
}
const char* ZStubProcessReadWriteFileLock_6_0::name() const { return shared_->name.c_str(); }

namespace {
using StubRegistry = std::map<std::string, ZStubProcessReadWriteFileLock_6_0::Shared*>;
pthread_once_t stubRegistry_once = PTHREAD_ONCE_INIT;
StubRegistry* stubRegistry_ = nullptr;

StubRegistry& stubRegistry() {
    pthread_once(&stubRegistry_once, [] { stubRegistry_ = new StubRegistry(); });
    return *stubRegistry_;
}
}  // namespace

// ---- ZUnixProcessReadWriteFileLock_6_0
//
// The lock file carries two record locks: the gate, byte 0, and the data, every byte from 1
// on. Holding the data lock shared is reading, holding it exclusively is writing. The gate
// keeps readers from starving a writer, which fcntl alone would allow (it gives a waiting
// writer no preference, and the overlapping reader threads of one process keep that process's
// shared lock held without a break): a writer takes the gate first and keeps it until it
// unlocks, and every reader thread passes through the gate (takes it shared and drops it at
// once) before it reads. Once a writer holds the gate, no new reader gets past it; the readers
// already in finish, and the writer takes the data lock.
//
// A writer waits for the data lock by trying it at short, growing intervals rather than in
// F_SETLKW. Record locks belong to processes, and the kernel refuses a wait that would close
// a cycle of waiting processes (EDEADLK): a reader thread waiting at the gate of a writer that
// itself waited for the data lock held by that reader's own process would be such a cycle,
// although the other reader threads of that process will release it. A writer that holds the
// gate therefore never waits in the kernel. Any EDEADLK the kernel still reports (cycles
// through other lock files of the same processes) is waited out and tried again.
//
// Peers that lock the whole file (as earlier releases did) still exclude and are excluded
// exactly: their range covers both the gate and the data.

// One per lock file and process: the descriptor that carries the record locks, the
// in-process lock that orders the threads, and the count of reading threads (the data lock
// is taken by the first reader and released by the last).
struct ZUnixProcessReadWriteFileLock_6_0::Shared {
    dev_t dev;
    ino_t ino;
    std::string path;
    pid_t pid;
    int refs;
    int fd;
    bool writable;  // false: the file could be opened for reading only
    pthread_rwlock_t lock;
    pthread_mutex_t readersMutex;
    int readers;
    std::atomic<bool> writer;
    // Descriptors of the same file that lock objects inherited from a parent process left
    // behind: closing one would drop this process's record locks on the file, so they are
    // closed with this object's own descriptor.
    std::vector<int> inherited;
};

namespace {

using UnixShared = ZUnixProcessReadWriteFileLock_6_0::Shared;

using FileRegistry = std::map<std::pair<dev_t, ino_t>, UnixShared*>;
pthread_once_t fileRegistry_once = PTHREAD_ONCE_INIT;
FileRegistry* fileRegistry_ = nullptr;

FileRegistry& fileRegistry() {
    pthread_once(&fileRegistry_once, [] { fileRegistry_ = new FileRegistry(); });
    return *fileRegistry_;
}

// The two ranges of the lock file.
enum class Range { kGate, kData, kAll };

struct flock rangeLock(short type, Range range) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = range == Range::kData ? 1 : 0;
    fl.l_len = range == Range::kGate ? 1 : 0;  // 0: to the end of the file, however it grows
    return fl;
}

// Sleeps `micros` microseconds and doubles the next sleep, up to 8 ms.
void sleepAndGrow(long& micros) {
    struct timespec ts = {0, micros * 1000};
    nanosleep(&ts, nullptr);
    if (micros < 8000) micros *= 2;
}

// Sets a record lock on `range`. Returns false when `wait` is false and another process holds
// a conflicting lock. A wait the kernel refuses as a cycle is waited out in steps.
bool recordLock(UnixShared* s, short type, Range range, bool wait) {
    struct flock fl = rangeLock(type, range);
    long micros = 200;
    for (;;) {
        if (fcntl(s->fd, wait ? F_SETLKW : F_SETLK, &fl) == 0) return true;
        int err = errno;
        if (err == EINTR) continue;
        if (!wait && (err == EAGAIN || err == EACCES)) return false;
        if (wait && err == EDEADLK) {
            sleepAndGrow(micros);
            continue;
        }
        lockFailure("fcntl record lock on " + s->path, err);
    }
}

// The data lock for a writer that holds the gate: tried at growing intervals (up to 8 ms),
// never waited for in the kernel (see above).
void writerTakesData(UnixShared* s) {
    long micros = 100;
    while (!recordLock(s, F_WRLCK, Range::kData, false)) sleepAndGrow(micros);
}

void releaseRecord(UnixShared* s, Range range) {
    struct flock fl = rangeLock(F_UNLCK, range);
    if (fcntl(s->fd, F_SETLK, &fl) != 0) lockFailure("fcntl unlock of " + s->path, errno);
}

// A reader passes through the gate: it waits while a writer of another process holds or
// waits for the lock, and holds nothing afterwards. Other reader threads of this process may
// pass at the same time; the process's shared hold on the gate lasts from the first of them
// to the first release, which is all the passage needs. No thread of this process holds the
// gate exclusively meanwhile: a writer thread would hold the in-process lock.
bool passGate(UnixShared* s, bool wait) {
    if (!recordLock(s, F_RDLCK, Range::kGate, wait)) return false;
    releaseRecord(s, Range::kGate);
    return true;
}

// Whether the lock file's path still names the file whose record locks this process takes:
// a lock file removed (or replaced) while another process held or waited for it leaves that
// process locking a file nobody else will open again.
bool lockFileCurrent(const UnixShared* s) {
    struct stat now;
    return lstat(s->path.c_str(), &now) == 0 && now.st_dev == s->dev && now.st_ino == s->ino;
}

void reopenLockFile(UnixShared* s);

// Takes the data lock for the calling reader when it is the first one of the process. The
// first reader checks, once it holds the data lock, that it is the lock file now at the path,
// and starts over on that file when it is not.
bool enterReader(UnixShared* s, bool wait) {
    for (;;) {
        if (!passGate(s, wait)) return false;
        pthread_mutex_lock(&s->readersMutex);
        bool ok = true;
        try {
            if (s->readers == 0) {
                ok = recordLock(s, F_RDLCK, Range::kData, wait);
                if (ok && !lockFileCurrent(s)) {
                    releaseRecord(s, Range::kData);
                    reopenLockFile(s);
                    pthread_mutex_unlock(&s->readersMutex);
                    continue;
                }
            }
        } catch (...) {
            pthread_mutex_unlock(&s->readersMutex);
            throw;
        }
        if (ok) ++s->readers;
        pthread_mutex_unlock(&s->readersMutex);
        return ok;
    }
}

// Takes the gate, then the data lock, for a writer; on a failed try nothing stays held. Once
// both are held, a lock file no longer at its path is left for the file that is, and the
// writer starts over there.
bool enterWriter(UnixShared* s, bool wait) {
    for (;;) {
        if (!s->writable)
            lockFailure("write lock on " + s->path +
                        " refused: the lock file could be opened for reading only");
        if (!recordLock(s, F_WRLCK, Range::kGate, wait)) return false;
        try {
            if (wait) {
                writerTakesData(s);
            } else if (!recordLock(s, F_WRLCK, Range::kData, false)) {
                releaseRecord(s, Range::kGate);
                return false;
            }
            if (!lockFileCurrent(s)) {
                releaseRecord(s, Range::kAll);
                reopenLockFile(s);
                continue;
            }
        } catch (...) {
            struct flock fl = rangeLock(F_UNLCK, Range::kAll);
            fcntl(s->fd, F_SETLK, &fl);
            throw;
        }
        s->writer.store(true, std::memory_order_relaxed);
        return true;
    }
}

// Opens (creating when absent) the lock file for reading and writing, or, when this process
// may only read it, for reading. Only a regular file can be a lock file, and the open must do
// nothing to anything else found at its path: O_NOFOLLOW, so that a link planted in a shared
// lock directory neither redirects the lock nor has a file created where it points;
// O_NONBLOCK and O_NOCTTY, so that opening a FIFO or a device there neither waits nor takes a
// terminal before the fstat refuses it. (O_NONBLOCK changes nothing for the record locks of a
// regular file.) New lock files get 0666 masked by the umask, so that a lock directory shared
// by a group lets the group share its locks.
int openLockFile(const std::string& path, bool& writable, struct stat& st) {
    const int common = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    writable = true;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | common, 0666);
    if (fd < 0 && errno == EACCES) {
        fd = open(path.c_str(), O_RDONLY | common);
        if (fd >= 0)
            writable = false;
        else if (errno == ENOENT)
            errno = EACCES;  // absent, and this process may not create it
    }
    if (fd < 0) lockFailure("cannot open lock file " + path, errno);
    ovz_internal::Fd guard(fd);
    if (fstat(fd, &st) != 0) lockFailure("cannot stat lock file " + path, errno);
    if (!S_ISREG(st.st_mode)) lockFailure("lock file " + path + " is not a regular file");
    return guard.release();
}

// Puts the lock file now at the path in place of the one `s` locked, under the same
// descriptor number (dup3 replaces it in one step, so that other threads of the process that
// use the descriptor meanwhile use one file or the other, never a closed number). The caller
// holds no record lock of `s`: no writer thread (it is one, or a reader holds the in-process
// lock) and no reading thread of this process (it is the first).
void reopenLockFile(UnixShared* s) {
    bool writable = true;
    struct stat st;
    ovz_internal::Fd fd(openLockFile(s->path, writable, st));
    if (dup3(fd.get(), s->fd, O_CLOEXEC) < 0)
        lockFailure("cannot reopen lock file " + s->path, errno);
    std::lock_guard<std::mutex> hold(registryMutex());
    auto& registry = fileRegistry();
    auto it = registry.find({s->dev, s->ino});
    if (it != registry.end() && it->second == s) registry.erase(it);
    s->dev = st.st_dev;
    s->ino = st.st_ino;
    s->writable = writable;
    registry.emplace(std::make_pair(st.st_dev, st.st_ino), s);
}

// Closes `fd`, a descriptor of the lock file (`dev`, `ino`) that a lock object inherited from
// a parent process had open, unless this process has lock objects of its own on that file:
// closing any descriptor of a file drops every record lock the process holds on it, so the
// descriptor is then closed with this process's own object. Called under registryMutex.
void closeInherited(int fd, dev_t dev, ino_t ino) {
    auto& registry = fileRegistry();
    auto it = registry.find({dev, ino});
    if (it == registry.end() || it->second->pid != getpid()) {
        close(fd);
        return;
    }
    try {
        it->second->inherited.push_back(fd);
    } catch (std::bad_alloc&) {
        // Left open rather than closed: a descriptor is cheaper than a lost lock.
    }
}

}  // namespace

ZUnixProcessReadWriteFileLock_6_0::ZUnixProcessReadWriteFileLock_6_0(const char* name,
                                                                     const char* directory) {
    checkLockName(name);
    if (directory == nullptr)
        ZInvalidParameterException_6_0("lock directory is null").throwException(__FILE__, __LINE__);
    // An empty directory is the current one, as "." is: never the root.
    std::string path = std::string(*directory != '\0' ? directory : ".") + "/" + name;
    std::lock_guard<std::mutex> hold(registryMutex());
    auto& registry = fileRegistry();
    // Look the file up before opening it: opening and closing a second descriptor of a file
    // whose record lock this process holds would drop that lock. lstat, as the open follows
    // no link either.
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        auto it = registry.find({st.st_dev, st.st_ino});
        if (it != registry.end() && it->second->pid == getpid()) {
            shared_ = it->second;
            ++shared_->refs;
            return;
        }
    }
    bool writable = true;
    ovz_internal::Fd fd(openLockFile(path, writable, st));
    std::unique_ptr<Shared> s(new Shared{
        st.st_dev, st.st_ino, path, getpid(), 1, fd.get(), writable, {}, {}, 0, {false}, {}});
    int rc = pthread_mutex_init(&s->readersMutex, nullptr);
    if (rc != 0) lockFailure("pthread_mutex_init", rc);
    try {
        initReadWrite(&s->lock);
        registry[{st.st_dev, st.st_ino}] = s.get();
    } catch (...) {
        pthread_mutex_destroy(&s->readersMutex);
        throw;
    }
    fd.release();
    shared_ = s.release();
}

ZUnixProcessReadWriteFileLock_6_0::~ZUnixProcessReadWriteFileLock_6_0() {
    std::lock_guard<std::mutex> hold(registryMutex());
    if (--shared_->refs > 0) return;
    auto& registry = fileRegistry();
    auto it = registry.find({shared_->dev, shared_->ino});
    if (it != registry.end() && it->second == shared_) registry.erase(it);
    if (shared_->pid != getpid()) {
        // A lock object of a parent process, inherited through fork: its record locks were
        // the parent's and never this process's, and its descriptors must not drop the locks
        // this process holds through its own objects. The in-process locks are left as the
        // fork copied them (a parent's thread may have held them): only the memory goes.
        closeInherited(shared_->fd, shared_->dev, shared_->ino);
        for (int fd : shared_->inherited) closeInherited(fd, shared_->dev, shared_->ino);
        delete shared_;
        return;
    }
    close(shared_->fd);
    for (int fd : shared_->inherited) close(fd);
    pthread_rwlock_destroy(&shared_->lock);
    pthread_mutex_destroy(&shared_->readersMutex);
    delete shared_;
}

void ZUnixProcessReadWriteFileLock_6_0::readLock() {
    check(pthread_rwlock_rdlock(&shared_->lock), "pthread_rwlock_rdlock");
    try {
        enterReader(shared_, true);
    } catch (...) {
        pthread_rwlock_unlock(&shared_->lock);
        throw;
    }
}

void ZUnixProcessReadWriteFileLock_6_0::writeLock() {
    check(pthread_rwlock_wrlock(&shared_->lock), "pthread_rwlock_wrlock");
    try {
        enterWriter(shared_, true);
    } catch (...) {
        pthread_rwlock_unlock(&shared_->lock);
        throw;
    }
}

bool ZUnixProcessReadWriteFileLock_6_0::tryReadLock() {
    if (!tryOrThrow(pthread_rwlock_tryrdlock(&shared_->lock), "pthread_rwlock_tryrdlock"))
        return false;
    bool ok;
    try {
        ok = enterReader(shared_, false);
    } catch (...) {
        pthread_rwlock_unlock(&shared_->lock);
        throw;
    }
    if (!ok) pthread_rwlock_unlock(&shared_->lock);
    return ok;
}

bool ZUnixProcessReadWriteFileLock_6_0::tryWriteLock() {
    if (!tryOrThrow(pthread_rwlock_trywrlock(&shared_->lock), "pthread_rwlock_trywrlock"))
        return false;
    bool ok;
    try {
        ok = enterWriter(shared_, false);
    } catch (...) {
        pthread_rwlock_unlock(&shared_->lock);
        throw;
    }
    if (!ok) pthread_rwlock_unlock(&shared_->lock);
    return ok;
}

void ZUnixProcessReadWriteFileLock_6_0::unlock() {
    // Only the writer can see `writer` set: while it holds the lock no reader can.
    if (shared_->writer.load(std::memory_order_relaxed)) {
        shared_->writer.store(false, std::memory_order_relaxed);
        try {
            releaseRecord(shared_, Range::kAll);  // the data and the gate
        } catch (...) {
            pthread_rwlock_unlock(&shared_->lock);
            throw;
        }
    } else {
        pthread_mutex_lock(&shared_->readersMutex);
        if (shared_->readers == 0) {
            pthread_mutex_unlock(&shared_->readersMutex);
            lockFailure("unlock of " + shared_->path + " without a hold", EPERM);
        }
        bool last = --shared_->readers == 0;
        try {
            if (last) releaseRecord(shared_, Range::kData);
        } catch (...) {
            pthread_mutex_unlock(&shared_->readersMutex);
            pthread_rwlock_unlock(&shared_->lock);
            throw;
        }
        pthread_mutex_unlock(&shared_->readersMutex);
    }
    check(pthread_rwlock_unlock(&shared_->lock), "pthread_rwlock_unlock");
}

const char* ZUnixProcessReadWriteFileLock_6_0::path() const { return shared_->path.c_str(); }
