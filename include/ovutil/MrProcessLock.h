/// @file
/// MrProcessLockFactory: reader/writer lock objects by name, of a kind chosen per process.
///
/// A process decides once which kind of lock its named locks are (a lock file shared with
/// other processes, a stand-in for one, or a plain in-process lock) and where lock files go;
/// its code then asks the factory for locks by name and does not care which kind it got.
///
///     MrProcessLockFactory* factory = MrProcessLockFactory::getLockFactory();
///     factory->setLockDirectory("/var/Orvan/lock");      // at start-up, before any lock
///     factory->setFactoryType(unixFileLock);
///     ...
///     ZAbstractReadWriteLock_6_0* lock = MrProcessLockFactory::newLock("policy.db");
///     lock->writeLock();        // excludes every other process that locks policy.db there;
///                               // readers that come after a waiting writer wait for it
///     ...
///     lock->unlock();
///     delete lock;
///
/// Threads: the factory and its locks may be used from any thread. The setters take no lock:
/// a program sets the kind and the directory before its threads make locks.
///
/// Lock files (unixFileLock) are made with mode 0666 masked by the umask and never removed.
/// Who can delay whom: any process that may read a lock file can hold a read lock on it, and
/// writeLock waits for it without a limit; under umask 022 that is every user. Keep the lock
/// directory readable only by the programs that share the locks. A lock object that a child
/// inherits through fork is the parent's: deleting it in the child leaves the child's own locks
/// alone. A lock file removed or replaced while in use is noticed at each process's next lock,
/// which moves to the file now at the path (see ZUnixProcessReadWriteFileLock_6_0).
#ifndef OVUTIL_MRPROCESSLOCK_H
#define OVUTIL_MRPROCESSLOCK_H

#include <pthread.h>

#include <cstdint>

#include <ovutil/export.h>
#include <ovz/locks.h>
#include <ovz/strings.h>

/// The kind of lock the factory makes. A 32-bit value: every value other than stubLock and
/// unixFileLock makes an in-process lock, as threadLock does.
enum mrproclocktype : std::int32_t {
    /// ZStubProcessReadWriteFileLock_6_0 of the name: stands in for a file lock, inside the
    /// process; the directory is not used. The factory's initial kind.
    stubLock = 0,
    /// ZReadWriteLock_6_0: a lock of its own, between the threads of this process; the name
    /// and the directory are not used.
    threadLock = 1,
    /// ZUnixProcessReadWriteFileLock_6_0 on the file directory/name: excludes other
    /// processes as well as other threads. An empty directory is the current one, as the
    /// factory's initial "." is.
    unixFileLock = 2,
};

/// The process's lock factory: the kind of lock and the lock directory that the short forms
/// of newLock use. There is one per process (getLockFactory); it is never destroyed.
class OVUTIL_EXPORT MrProcessLockFactory {
public:
    virtual ~MrProcessLockFactory();

    MrProcessLockFactory(const MrProcessLockFactory&) = delete;
    MrProcessLockFactory& operator=(const MrProcessLockFactory&) = delete;

    /// The process's factory, made on the first call (directory ".", kind stubLock). Safe
    /// when many threads make the first call at once: one factory is made. The factory
    /// belongs to the library. The allocator's exception passes to the caller when the
    /// factory cannot be made.
    static MrProcessLockFactory* getLockFactory();

    /// Makes the process's factory and stores it in theLockFactory_. getLockFactory runs it
    /// once under mrplf_once_; it is not meant to be called otherwise.
    static void new_factory();

    /// The kind of lock that newLock(name) makes.
    mrproclocktype getFactoryType() const;
    /// Replaces the kind of lock that newLock(name) makes from now on. Locks already made
    /// keep their kind. Not synchronised (see the file comment).
    void setFactoryType(mrproclocktype type);

    /// The directory that the short forms of newLock hand to file locks ("." until set).
    /// The reference is to the factory's own member and stays valid for the life of the
    /// process; its text changes with setLockDirectory.
    const ZUTF8String_6_0& getLockDirectory() const;
    /// Replaces the lock directory with a copy of `directory` (null gives the empty text,
    /// which file locks take as the current directory). Locks already made keep their
    /// directory. Not synchronised (see the file comment).
    void setLockDirectory(const char* directory);

    /// Makes a lock of kind `type` for `name`, with lock files in `directory`.
    ///
    /// @return a new lock that the caller owns and releases with delete.
    /// @throws ZOutOfMemoryException_6_0 when there is no memory for the lock.
    /// @throws what the lock class throws: ZInvalidParameterException_6_0 for a name that is
    ///         not a file name inside the lock directory (null, empty, ".", "..", or holding
    ///         "/"; stub and file locks) or a null directory (file locks); ZException_6_0 of
    ///         kind ZEXC_LOCK_FAILURE when the lock file cannot be opened or created, or is not
    ///         a regular file (a FIFO, a device, a symbolic link). A process that may only
    ///         read an existing lock file gets a lock that takes read holds and refuses write
    ///         holds with ZEXC_LOCK_FAILURE.
    static ZAbstractReadWriteLock_6_0* newLock(const char* name, mrproclocktype type,
                                               const char* directory);
    /// The same with the factory's lock directory, as it reads at the time of the call.
    static ZAbstractReadWriteLock_6_0* newLock(const char* name, mrproclocktype type);
    /// The same with the factory's lock directory and kind, as they read at the time of the
    /// call.
    static ZAbstractReadWriteLock_6_0* newLock(const char* name);

    /// @name Process-wide internals
    /// The factory's shared state, exported for the library's own use: callers go through
    /// getLockFactory and never touch these.
    ///@{

    /// The process's factory: null until new_factory has run; never freed.
    static MrProcessLockFactory* theLockFactory_;
    /// Makes new_factory run at most once.
    static pthread_once_t mrplf_once_;
    ///@}

    /// The text "ebb": the prefix of the policy server's lock names.
    static const char* policyserverPrefix;

protected:
    /// A factory with directory "." and kind stubLock.
    MrProcessLockFactory();

private:
    ZUTF8String_6_0 lockDirectory_;
    mrproclocktype factoryType_;
    // Part of the factory's layout; none of the operations takes it.
    ZLock_6_0 mutex_;
};

#endif  // OVUTIL_MRPROCESSLOCK_H
