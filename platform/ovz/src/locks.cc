// Mutex, reader/writer locks, and the named and file-based reader/writer locks.
#include <ovz/locks.h>

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include <ovz/exceptions.h>

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
    if (name == nullptr)
        ZInvalidParameterException_6_0("lock name is null").throwException(__FILE__, __LINE__);
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

// One per lock file and process: the descriptor that carries the record locks, the
// in-process lock that orders the threads, and the count of reading threads (the record
// lock is taken by the first reader and released by the last).
struct ZUnixProcessReadWriteFileLock_6_0::Shared {
    dev_t dev;
    ino_t ino;
    std::string path;
    pid_t pid;
    int refs;
    int fd;
    pthread_rwlock_t lock;
    pthread_mutex_t readersMutex;
    int readers;
    std::atomic<bool> writer;
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

// Sets (or clears, with F_UNLCK) the record lock on the whole file. Returns false when
// `wait` is false and another process holds a conflicting lock.
bool recordLock(UnixShared* s, short type, bool wait) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    for (;;) {
        if (fcntl(s->fd, wait ? F_SETLKW : F_SETLK, &fl) == 0) return true;
        int err = errno;
        if (err == EINTR) continue;
        if (!wait && (err == EAGAIN || err == EACCES)) return false;
        lockFailure("fcntl record lock on " + s->path, err);
    }
}

void releaseRecord(UnixShared* s) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(s->fd, F_SETLK, &fl) != 0) lockFailure("fcntl unlock of " + s->path, errno);
}

// Takes the record lock for the calling reader when it is the first one.
bool enterReader(UnixShared* s, bool wait) {
    pthread_mutex_lock(&s->readersMutex);
    bool ok = true;
    try {
        if (s->readers == 0) ok = recordLock(s, F_RDLCK, wait);
    } catch (...) {
        pthread_mutex_unlock(&s->readersMutex);
        throw;
    }
    if (ok) ++s->readers;
    pthread_mutex_unlock(&s->readersMutex);
    return ok;
}

}  // namespace

ZUnixProcessReadWriteFileLock_6_0::ZUnixProcessReadWriteFileLock_6_0(const char* name,
                                                                     const char* directory) {
    if (name == nullptr || directory == nullptr)
        ZInvalidParameterException_6_0(name == nullptr ? "lock name is null"
                                                       : "lock directory is null")
            .throwException(__FILE__, __LINE__);
    // An empty directory is the current one, as "." is: never the root.
    std::string path = std::string(*directory != '\0' ? directory : ".") + "/" + name;
    std::lock_guard<std::mutex> hold(registryMutex());
    auto& registry = fileRegistry();
    // Look the file up before opening it: opening and closing a second descriptor of a file
    // whose record lock this process holds would drop that lock. lstat, as the open below
    // follows no link either.
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        auto it = registry.find({st.st_dev, st.st_ino});
        if (it != registry.end() && it->second->pid == getpid()) {
            shared_ = it->second;
            ++shared_->refs;
            return;
        }
    }
    // Only a regular file can be a lock file, and the open must do nothing to anything else
    // found at its path: O_NOFOLLOW, so that a link planted in a shared lock directory
    // neither redirects the lock nor has a file created where it points; O_NONBLOCK and
    // O_NOCTTY, so that opening a FIFO or a device there neither waits nor takes a terminal
    // before the fstat below refuses it. (O_NONBLOCK changes nothing for the record locks
    // of a regular file.)
    int fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) lockFailure("cannot open lock file " + path, errno);
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        lockFailure("cannot stat lock file " + path, err);
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        lockFailure("lock file " + path + " is not a regular file");
    }
    auto* s = new Shared{st.st_dev, st.st_ino, path, getpid(), 1, fd, {}, {}, 0, {false}};
    int rc = pthread_mutex_init(&s->readersMutex, nullptr);
    if (rc != 0) {
        close(fd);
        delete s;
        lockFailure("pthread_mutex_init", rc);
    }
    try {
        initReadWrite(&s->lock);
    } catch (...) {
        pthread_mutex_destroy(&s->readersMutex);
        close(fd);
        delete s;
        throw;
    }
    registry[{st.st_dev, st.st_ino}] = s;
    shared_ = s;
}

ZUnixProcessReadWriteFileLock_6_0::~ZUnixProcessReadWriteFileLock_6_0() {
    std::lock_guard<std::mutex> hold(registryMutex());
    if (--shared_->refs > 0) return;
    auto& registry = fileRegistry();
    auto it = registry.find({shared_->dev, shared_->ino});
    if (it != registry.end() && it->second == shared_) registry.erase(it);
    close(shared_->fd);
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
        recordLock(shared_, F_WRLCK, true);
    } catch (...) {
        pthread_rwlock_unlock(&shared_->lock);
        throw;
    }
    shared_->writer.store(true, std::memory_order_relaxed);
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
        ok = recordLock(shared_, F_WRLCK, false);
    } catch (...) {
        pthread_rwlock_unlock(&shared_->lock);
        throw;
    }
    if (!ok) {
        pthread_rwlock_unlock(&shared_->lock);
        return false;
    }
    shared_->writer.store(true, std::memory_order_relaxed);
    return true;
}

void ZUnixProcessReadWriteFileLock_6_0::unlock() {
    // Only the writer can see `writer` set: while it holds the lock no reader can.
    if (shared_->writer.load(std::memory_order_relaxed)) {
        shared_->writer.store(false, std::memory_order_relaxed);
        try {
            releaseRecord(shared_);
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
            if (last) releaseRecord(shared_);
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
