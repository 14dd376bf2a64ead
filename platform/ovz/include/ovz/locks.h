// Locks of the object library.
//
//   ZLock_6_0                          a mutex (not recursive)
//   ZResourceLock_6_0                  holds a ZLock_6_0 for a scope (RAII)
//   ZAbstractReadWriteLock_6_0         reader/writer interface shared by:
//     ZReadWriteLock_6_0               in-process reader/writer lock
//     ZStubProcessReadWriteFileLock_6_0  stands in for a file lock: an in-process lock of a
//                                      name, shared by every stub of that name in the process
//     ZUnixProcessReadWriteFileLock_6_0  lock between processes on a file (fcntl record locks)
//
// Lock objects are shared between threads: all their operations are safe from any thread.
// None of them is recursive: a thread that takes a lock it already holds (in any mode)
// gets an exception from ZLock_6_0 and may deadlock with the reader/writer locks. Failures
// of the system (pthread, open, fcntl) throw ZException_6_0 of kind ZEXC_LOCK_FAILURE
// (insert: a description naming the operation and the system error). Lock objects cannot
// be copied.
#ifndef OVZ_LOCKS_H
#define OVZ_LOCKS_H

#include <errno.h>
#include <pthread.h>

#include <ovz/export.h>
#include <ovz/object.h>

// A mutex that refuses to be taken again by its holder and released by another thread.
class OVZ_EXPORT ZLock_6_0 : public ZObject_6_0 {
public:
    ZLock_6_0();
    ZLock_6_0(const ZLock_6_0&) = delete;
    ZLock_6_0& operator=(const ZLock_6_0&) = delete;
    ~ZLock_6_0() override;

    // Blocks until the calling thread holds the mutex. Throws ZEXC_LOCK_FAILURE when the
    // calling thread already holds it. Inline: a look-up under this lock costs little more
    // than the mutex itself.
    void lock() {
        const unsigned long self = static_cast<unsigned long>(pthread_self());
        if (__atomic_load_n(&owner_, __ATOMIC_RELAXED) == self) fail(EDEADLK, "pthread_mutex_lock");
        if (int rc = pthread_mutex_lock(&mutex_)) fail(rc, "pthread_mutex_lock");
        __atomic_store_n(&owner_, self, __ATOMIC_RELAXED);
    }
    // Releases the mutex. Throws ZEXC_LOCK_FAILURE when the calling thread does not hold it.
    void unlock() {
        if (__atomic_load_n(&owner_, __ATOMIC_RELAXED) !=
            static_cast<unsigned long>(pthread_self()))
            fail(EPERM, "pthread_mutex_unlock");
        __atomic_store_n(&owner_, 0UL, __ATOMIC_RELAXED);
        if (int rc = pthread_mutex_unlock(&mutex_)) fail(rc, "pthread_mutex_unlock");
    }
    // Takes the mutex when it is free; returns whether it did.
    bool tryLock();

private:
    // Throws ZEXC_LOCK_FAILURE naming the operation and the error.
    // Exported although private: the inline lock() and unlock() call it.
    [[noreturn]] static void fail(int err, const char* what);

    pthread_mutex_t mutex_;
    // The holding thread (pthread_self() as an integer), 0 when free. Only the holder writes
    // it, so a thread reads its own id back only while it holds the mutex: that catches a
    // relock or a foreign unlock without the cost of an error-checking mutex.
    unsigned long owner_ = 0;
};

// Holds `lock` from construction to destruction, so the lock is released on every way out
// of the scope, exceptions included.
//
//   { ZResourceLock_6_0 hold(cache.lock); ...look-up... }
class OVZ_EXPORT ZResourceLock_6_0 {
public:
    // Takes `lock`; the destructor releases it.
    explicit ZResourceLock_6_0(ZLock_6_0& lock) : lock_(lock) { lock_.lock(); }
    ZResourceLock_6_0(const ZResourceLock_6_0&) = delete;
    ZResourceLock_6_0& operator=(const ZResourceLock_6_0&) = delete;
    // Only a misused lock fails to unlock here, and a destructor must not throw.
    ~ZResourceLock_6_0() {
        try {
            lock_.unlock();
        } catch (...) {
        }
    }

private:
    ZLock_6_0& lock_;
};

// Shared (read) or exclusive (write) holds. unlock() releases whichever hold the calling
// thread has. Waiting writers are preferred over new readers, so writers do not starve.
class OVZ_EXPORT ZAbstractReadWriteLock_6_0 : public ZObject_6_0 {
public:
    ~ZAbstractReadWriteLock_6_0() override;

    // Waits until the calling thread holds the lock shared, beside other readers.
    virtual void readLock() = 0;
    // Waits until the calling thread holds the lock alone.
    virtual void writeLock() = 0;
    // Releases the hold the calling thread has, shared or exclusive.
    virtual void unlock() = 0;
    // Take the hold only when that needs no waiting; return whether it was taken.
    virtual bool tryReadLock() = 0;
    // As tryReadLock, for the exclusive hold.
    virtual bool tryWriteLock() = 0;

protected:
    ZAbstractReadWriteLock_6_0() = default;
    ZAbstractReadWriteLock_6_0(const ZAbstractReadWriteLock_6_0&) = delete;
    ZAbstractReadWriteLock_6_0& operator=(const ZAbstractReadWriteLock_6_0&) = delete;
};

// An in-process reader/writer lock, for the threads of one process.
class OVZ_EXPORT ZReadWriteLock_6_0 : public ZAbstractReadWriteLock_6_0 {
public:
    ZReadWriteLock_6_0();
    ~ZReadWriteLock_6_0() override;

    void readLock() override;
    void writeLock() override;
    void unlock() override;
    bool tryReadLock() override;
    bool tryWriteLock() override;

private:
    pthread_rwlock_t lock_;
};

// An in-process reader/writer lock identified by `name`: all stubs of one name in a process
// share one lock (for as long as at least one of them exists). Nothing on disk. The names a
// file lock refuses are refused here too: a null name, an empty one, "." and "..", and any
// name holding "/" (ZInvalidParameterException_6_0).
class OVZ_EXPORT ZStubProcessReadWriteFileLock_6_0 : public ZAbstractReadWriteLock_6_0 {
public:
    // The lock of `name` in this process.
    explicit ZStubProcessReadWriteFileLock_6_0(const char* name);
    ~ZStubProcessReadWriteFileLock_6_0() override;

    void readLock() override;
    void writeLock() override;
    void unlock() override;
    bool tryReadLock() override;
    bool tryWriteLock() override;

    // The name the lock was made with.
    const char* name() const;

    struct Shared;  // per name and process; internal

private:
    Shared* shared_;
};

// A reader/writer lock between processes on the file `directory`/`name`, which is created
// when absent with mode 0666 masked by the umask (so a lock directory shared by a group lets
// the group share its locks) and never removed; an empty directory is the current one
// ("./name"). `name` is a file name inside the directory: a null or empty name, "." and "..",
// and any name holding "/" are refused with ZInvalidParameterException_6_0.
//
// Readers share a fcntl record lock, writers hold it exclusively. Record locks belong to the
// process, so every lock object of the same file in a process shares one open descriptor and
// one in-process reader/writer lock: threads of one process exclude each other through that
// lock, processes through the record lock. Waiting writers are preferred over new readers
// between processes too: a writer first takes a gate (byte 0 of the file) that every reader
// passes through, so readers arriving after it wait, however the reader threads of other
// processes overlap, and the writer gets in once the readers already in have left. The data
// lock covers the rest of the file (byte 1 on); a peer that locks the whole file is excluded
// exactly as before.
//
// A process that may read the lock file but not write it (and may not create it) opens it for
// reading: it gets read locks, and a write lock (or try) throws ZEXC_LOCK_FAILURE saying so.
// Who can delay whom: a record lock needs only a descriptor open for reading, so every process
// that may read the lock file (under the usual umask 022 a new lock file is 0644: every user)
// can hold a read lock and so keep writers waiting for as long as it likes; writeLock waits
// without a limit. A lock directory that only trusted users can read, or a umask of 007 or
// 077, keeps strangers out.
//
// A lock file removed or replaced while a process held or waited for it no longer excludes:
// whoever opens the path next locks the new file. A process notices at its next lock: once it
// holds the record lock it checks that the path still names the file it locked, and when it
// does not, it drops that lock and starts over on the file now at the path. While a process
// holds a lock on a removed file, another process can take the lock on the new one; removing
// a lock file in use is the administrator's error, and the next lock of each process mends it.
//
// A lock object inherited through fork belongs to the parent: deleting it in the child closes
// no descriptor whose closing would drop a record lock the child holds through its own
// objects of the same file (such a descriptor is closed with the child's own object).
// The lock file must be a regular file and not itself a symbolic link (the directory may be
// reached through links): anything else at its path is refused without waiting on it or
// acting on it.
// Throws ZInvalidParameterException_6_0 for a refused name or a null directory, and
// ZEXC_LOCK_FAILURE when the file cannot be opened or created, or is not a regular file.
class OVZ_EXPORT ZUnixProcessReadWriteFileLock_6_0 : public ZAbstractReadWriteLock_6_0 {
public:
    // The lock on the file `directory`/`name` (see the class comment).
    ZUnixProcessReadWriteFileLock_6_0(const char* name, const char* directory);
    ~ZUnixProcessReadWriteFileLock_6_0() override;

    void readLock() override;
    void writeLock() override;
    void unlock() override;
    bool tryReadLock() override;
    bool tryWriteLock() override;

    // The lock file's path (directory + "/" + name, "./" + name for an empty directory) as
    // the first lock object of this file in the process spelled it.
    const char* path() const;

    struct Shared;  // per file and process; internal

private:
    Shared* shared_;
};

#endif  // OVZ_LOCKS_H
