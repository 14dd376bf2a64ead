// Locks: the guard releases on every way out, reader/writer exclusion between threads, and
// the file lock's exclusion of another process.
#include <ovz/exceptions.h>
#include <ovz/locks.h>

#include <gtest/gtest.h>

#include "harness/temp_dir.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Lock, GuardReleasesWhenTheScopeIsLeftByAnException) {
    ZLock_6_0 lock;
    try {
        ZResourceLock_6_0 hold(lock);
        throw std::runtime_error("look-up failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(lock.tryLock());
    lock.unlock();
}

TEST(Lock, GuardExcludesOtherThreads) {
    ZLock_6_0 lock;
    long counter = 0;  // unguarded access would be a data race under ThreadSanitizer
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                ZResourceLock_6_0 hold(lock);
                ++counter;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8000);
}

TEST(Lock, MisuseIsReportedNotHung) {
    ZLock_6_0 lock;
    lock.lock();
    try {
        lock.lock();
        FAIL() << "relocking by the owner returned";
    } catch (ZException_6_0& e) {
        EXPECT_EQ(e.kind(), ZEXC_LOCK_FAILURE);
    }
    // Another thread cannot release what this one holds.
    bool foreignUnlockRefused = false;
    std::thread([&] {
        try {
            lock.unlock();
        } catch (ZException_6_0& e) {
            foreignUnlockRefused = e.kind() == ZEXC_LOCK_FAILURE;
        }
    }).join();
    EXPECT_TRUE(foreignUnlockRefused);
    lock.unlock();
    EXPECT_THROW(lock.unlock(), ZException_6_0);
    // Refused misuse leaves the lock usable.
    EXPECT_TRUE(lock.tryLock());
    EXPECT_FALSE(lock.tryLock());
    lock.unlock();
}

using ovtest::TempDir;

struct Kind {
    const char* name;
    std::function<std::unique_ptr<ZAbstractReadWriteLock_6_0>(const std::string& dir)> make;
};

// Test output names a kind by its name, not by the bytes of the object.
void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.name; }

class ReadWriteLockTest : public ::testing::TestWithParam<Kind> {
protected:
    TempDir dir;
};

TEST_P(ReadWriteLockTest, WritersExcludeEveryoneReadersShare) {
    auto lock = GetParam().make(dir.path());
    long a = 0, b = 0;  // a writer keeps them equal; a reader must never see them differ
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                lock->writeLock();
                ++a;
                ++b;
                lock->unlock();
            }
        });
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                lock->readLock();
                if (a != b) ++torn;
                lock->unlock();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(a, 900);
}

TEST_P(ReadWriteLockTest, TryVariantsRespectTheHoldsOfOtherThreads) {
    auto lock = GetParam().make(dir.path());
    auto fromOtherThread = [&](bool write) {
        bool got = false;
        std::thread([&] {
            got = write ? lock->tryWriteLock() : lock->tryReadLock();
            if (got) lock->unlock();
        }).join();
        return got;
    };
    lock->readLock();
    EXPECT_TRUE(fromOtherThread(false));  // readers share
    EXPECT_FALSE(fromOtherThread(true));  // a writer waits for readers
    lock->unlock();
    lock->writeLock();
    EXPECT_FALSE(fromOtherThread(false));
    EXPECT_FALSE(fromOtherThread(true));
    lock->unlock();
    EXPECT_TRUE(fromOtherThread(true));
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ReadWriteLockTest,
    ::testing::Values(
        Kind{"InProcess",
             [](const std::string&) { return std::make_unique<ZReadWriteLock_6_0>(); }},
        Kind{"Stub",
             [](const std::string&) {
                 return std::make_unique<ZStubProcessReadWriteFileLock_6_0>("stub-lock");
             }},
        Kind{"UnixFile",
             [](const std::string& dir) {
                 return std::make_unique<ZUnixProcessReadWriteFileLock_6_0>("file.lock",
                                                                            dir.c_str());
             }}),
    [](const ::testing::TestParamInfo<Kind>& info) { return std::string(info.param.name); });

TEST(StubLock, StubsOfOneNameShareOneLock) {
    ZStubProcessReadWriteFileLock_6_0 first("shared-name");
    ZStubProcessReadWriteFileLock_6_0 second("shared-name");
    ZStubProcessReadWriteFileLock_6_0 other("another-name");
    first.writeLock();
    bool sameName = true, otherName = false;
    std::thread([&] {
        sameName = second.tryReadLock();
        if (sameName) second.unlock();
        otherName = other.tryWriteLock();
        if (otherName) other.unlock();
    }).join();
    first.unlock();
    EXPECT_FALSE(sameName);
    EXPECT_TRUE(otherName);
    EXPECT_STREQ(first.name(), "shared-name");
    EXPECT_THROW(ZStubProcessReadWriteFileLock_6_0(nullptr), ZInvalidParameterException_6_0);
}

// Forks a child that opens its own lock on the file and tries it without waiting; returns
// what the child got, as 'w' (write), 'r' (read only) or '-' (nothing).
char probeFromChild(const std::string& dir) {
    pid_t pid = fork();
    if (pid == 0) {
        int code = 0;
        try {
            ZUnixProcessReadWriteFileLock_6_0 lock("file.lock", dir.c_str());
            if (lock.tryWriteLock()) {
                code = 'w';
                lock.unlock();
            } else if (lock.tryReadLock()) {
                code = 'r';
                lock.unlock();
            } else {
                code = '-';
            }
        } catch (...) {
            code = 'x';
        }
        _exit(code);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return '?';
    return static_cast<char>(WEXITSTATUS(status));
}

TEST(UnixFileLock, ExcludesAnotherProcess) {
    TempDir dir;
    ZUnixProcessReadWriteFileLock_6_0 lock("file.lock", dir.path().c_str());
    EXPECT_EQ(probeFromChild(dir.path()), 'w');
    lock.writeLock();
    EXPECT_EQ(probeFromChild(dir.path()), '-');
    lock.unlock();
    lock.readLock();
    EXPECT_EQ(probeFromChild(dir.path()), 'r');
    lock.unlock();
    EXPECT_EQ(probeFromChild(dir.path()), 'w');
}

TEST(UnixFileLock, ObjectsOfOneFileShareTheRecordLock) {
    TempDir dir;
    auto holder =
        std::make_unique<ZUnixProcessReadWriteFileLock_6_0>("file.lock", dir.path().c_str());
    holder->writeLock();
    {
        // Another object of the same file, spelled differently; closing its descriptor must
        // not drop the record lock the first one holds.
        ZUnixProcessReadWriteFileLock_6_0 second("file.lock", (dir.path() + "/.").c_str());
        bool got = true;
        std::thread([&] {
            got = second.tryWriteLock();
            if (got) second.unlock();
        }).join();
        EXPECT_FALSE(got);
    }
    EXPECT_EQ(probeFromChild(dir.path()), '-');
    holder->unlock();
    EXPECT_EQ(probeFromChild(dir.path()), 'w');
}

// A child process that holds the write lock of dir/file.lock until released.
struct Holder {
    pid_t pid = -1;
    int release = -1;  // a byte written to it lets the child unlock and exit
};

Holder holdInChild(const std::string& dir) {
    int ready[2], go[2];
    if (pipe(ready) != 0 || pipe(go) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        close(go[1]);
        try {
            ZUnixProcessReadWriteFileLock_6_0 lock("file.lock", dir.c_str());
            lock.writeLock();
            (void)!write(ready[1], "x", 1);
            char c;
            (void)!read(go[0], &c, 1);
            lock.unlock();
        } catch (...) {
            _exit(1);
        }
        _exit(0);
    }
    close(ready[1]);
    close(go[0]);
    char c;
    if (pid < 0 || read(ready[0], &c, 1) != 1) pid = -1;
    close(ready[0]);
    return {pid, go[1]};
}

// Lets the holder go; true when it had held the lock and exited cleanly.
bool release(const Holder& h) {
    // A byte rather than the end of the pipe: children forked later hold copies of its end.
    (void)!write(h.release, "x", 1);
    close(h.release);
    int status = 0;
    return h.pid > 0 && waitpid(h.pid, &status, 0) == h.pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A child deletes a lock object it inherited through fork while it holds the write lock
// through an object of its own: its lock stays, and no other process gets the lock.
TEST(UnixFileLock, AnInheritedObjectDeletedInAChildLeavesTheChildsLock) {
    TempDir dir;
    auto inherited =
        std::make_unique<ZUnixProcessReadWriteFileLock_6_0>("file.lock", dir.path().c_str());
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        close(ready[0]);
        close(go[1]);
        int code = 0;
        try {
            ZUnixProcessReadWriteFileLock_6_0 own("file.lock", dir.path().c_str());
            own.writeLock();
            inherited.reset();
            (void)!write(ready[1], "x", 1);
            char c;
            (void)!read(go[0], &c, 1);
            own.unlock();
        } catch (...) {
            code = 1;
        }
        _exit(code);
    }
    close(ready[1]);
    close(go[0]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    EXPECT_EQ(probeFromChild(dir.path()), '-');
    EXPECT_FALSE(inherited->tryWriteLock());
    close(go[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(probeFromChild(dir.path()), 'w');
}

// A lock file removed while this process held it: another process locks the new file at the
// path, and this process's next lock goes to that file too, instead of the removed one.
TEST(UnixFileLock, ALockFileRemovedWhileHeldIsLeftAtTheNextLock) {
    TempDir dir;
    const std::string file = dir.path() + "/file.lock";
    ZUnixProcessReadWriteFileLock_6_0 lock("file.lock", dir.path().c_str());
    lock.writeLock();
    ASSERT_EQ(unlink(file.c_str()), 0);
    lock.unlock();
    Holder other = holdInChild(dir.path());
    ASSERT_GT(other.pid, 0);
    EXPECT_FALSE(lock.tryWriteLock());
    EXPECT_FALSE(lock.tryReadLock());
    EXPECT_TRUE(release(other));
    ASSERT_TRUE(lock.tryWriteLock());
    EXPECT_EQ(probeFromChild(dir.path()), '-');
    lock.unlock();
    // Replaced by another file rather than removed: the same.
    lock.readLock();
    const std::string other2 = dir.path() + "/replacement";
    ASSERT_EQ(close(open(other2.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
    ASSERT_EQ(rename(other2.c_str(), file.c_str()), 0);
    lock.unlock();
    Holder third = holdInChild(dir.path());
    ASSERT_GT(third.pid, 0);
    EXPECT_FALSE(lock.tryReadLock());
    EXPECT_TRUE(release(third));
}

// A writer that waits while the lock file is removed and another process locks the new file
// does not take the removed file's lock for the lock: it moves on and waits for the new one.
TEST(UnixFileLock, AWaiterOnARemovedLockFileMovesToTheNewFile) {
    TempDir dir;
    const std::string file = dir.path() + "/file.lock";
    ZUnixProcessReadWriteFileLock_6_0 lock("file.lock", dir.path().c_str());
    Holder first = holdInChild(dir.path());
    ASSERT_GT(first.pid, 0);
    std::atomic<bool> got{false}, done{false};
    std::thread waiter([&] {
        lock.writeLock();
        got = true;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.unlock();  // by the thread that holds it
    });
    // No ASSERT from here on: the waiter must be joined.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(unlink(file.c_str()), 0);
    Holder second = holdInChild(dir.path());
    EXPECT_GT(second.pid, 0);
    EXPECT_TRUE(release(first));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(got) << "the waiter took the lock of the removed file";
    EXPECT_TRUE(release(second));
    for (int i = 0; i < 5000 && !got; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(got);
    EXPECT_EQ(probeFromChild(dir.path()), '-');
    done = true;
    waiter.join();
}

// New lock files get 0666 masked by the umask, so a group sharing the lock directory can
// share the locks.
TEST(UnixFileLock, CreatesTheLockFileWithTheUmasksMode) {
    TempDir dir;
    for (mode_t mask : {mode_t{022}, mode_t{002}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        const std::string name = "new-" + std::to_string(mask) + ".lock";
        mode_t previous = umask(mask);
        std::string made;
        try {
            ZUnixProcessReadWriteFileLock_6_0 lock(name.c_str(), dir.path().c_str());
            made = lock.path();
        } catch (ZException_6_0& e) {
            ADD_FAILURE() << e.text();
        }
        umask(previous);
        EXPECT_EQ(made, dir.path() + "/" + name);
        struct stat st;
        ASSERT_EQ(stat((dir.path() + "/" + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
    }
}

// The descriptors this process has open.
int openDescriptors() {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1) ++n;
    return n;
}

// A lock name is a file name inside the lock directory: anything that would reach outside it
// (or name the directory itself) is refused by every kind of named lock, nothing is created,
// and no descriptor is left open.
TEST(UnixFileLock, RefusesNamesThatLeaveTheLockDirectory) {
    TempDir dir;
    const std::string inner = dir.path() + "/locks";
    ASSERT_EQ(mkdir(inner.c_str(), 0755), 0);
    const int before = openDescriptors();
    for (const char* name : {"../escape", "..", ".", "", "sub/name", "/tmp/absolute", "name/"}) {
        SCOPED_TRACE(std::string("\"") + name + "\"");
        EXPECT_THROW(ZUnixProcessReadWriteFileLock_6_0(name, inner.c_str()),
                     ZInvalidParameterException_6_0);
        EXPECT_THROW(ZStubProcessReadWriteFileLock_6_0{name}, ZInvalidParameterException_6_0);
    }
    struct stat st;
    EXPECT_NE(lstat((dir.path() + "/escape").c_str(), &st), 0) << "a lock file was made outside";
    EXPECT_NE(lstat("/tmp/absolute", &st), 0);
    EXPECT_EQ(openDescriptors(), before);
    // A name that merely contains dots is a name like any other.
    ZUnixProcessReadWriteFileLock_6_0 dotted("..dotted..", inner.c_str());
    EXPECT_EQ(std::string(dotted.path()), inner + "/..dotted..");
}

TEST(UnixFileLock, RefusesWhatCannotBeALockFile) {
    TempDir dir;
    std::string missing = dir.path() + "/no/such/dir";
    try {
        ZUnixProcessReadWriteFileLock_6_0 lock("x.lock", missing.c_str());
        FAIL() << "a lock in a missing directory was made";
    } catch (ZException_6_0& e) {
        EXPECT_EQ(e.kind(), ZEXC_LOCK_FAILURE);
        EXPECT_NE(std::string(e.text()).find(missing), std::string::npos);
    }
    EXPECT_THROW(ZUnixProcessReadWriteFileLock_6_0(nullptr, "."), ZInvalidParameterException_6_0);
    EXPECT_THROW(ZUnixProcessReadWriteFileLock_6_0("x", nullptr), ZInvalidParameterException_6_0);
}

// What is found at the lock file's path instead of a regular file is refused at once, and
// nothing happens to it or to what a link points at.
TEST(UnixFileLock, RefusesWhatIsNotARegularFile) {
    TempDir dir;
    const std::string target = dir.path() + "/target";
    struct Case {
        const char* what;
        std::string directory, name;
        std::function<void()> prepare;  // puts the thing at directory/name
    } cases[] = {
        {"a FIFO", dir.path(), "fifo.lock",
         [&] { ASSERT_EQ(mkfifo((dir.path() + "/fifo.lock").c_str(), 0600), 0); }},
        {"a device", "/dev", "null", [] {}},
        {"a directory", dir.path(), "dir.lock",
         [&] { ASSERT_EQ(mkdir((dir.path() + "/dir.lock").c_str(), 0700), 0); }},
        {"a link to a regular file", dir.path(), "file-link.lock",
         [&] {
             std::FILE* f = std::fopen(target.c_str(), "w");
             ASSERT_NE(f, nullptr);
             std::fclose(f);
             ASSERT_EQ(symlink(target.c_str(), (dir.path() + "/file-link.lock").c_str()), 0);
         }},
        {"a link to nothing", dir.path(), "dangling.lock",
         [&] {
             ASSERT_EQ(
                 symlink((target + "-absent").c_str(), (dir.path() + "/dangling.lock").c_str()), 0);
         }},
        {"a link to a FIFO", dir.path(), "fifo-link.lock",
         [&] {
             ASSERT_EQ(mkfifo((target + "-fifo").c_str(), 0600), 0);
             ASSERT_EQ(
                 symlink((target + "-fifo").c_str(), (dir.path() + "/fifo-link.lock").c_str()), 0);
         }},
    };
    const int before = openDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        const std::string path = c.directory + "/" + c.name;
        try {
            ZUnixProcessReadWriteFileLock_6_0 lock(c.name.c_str(), c.directory.c_str());
            ADD_FAILURE() << "a lock was made on " << lock.path();
        } catch (ZException_6_0& e) {
            EXPECT_EQ(e.kind(), ZEXC_LOCK_FAILURE);
            EXPECT_NE(std::string(e.text()).find(path), std::string::npos) << e.text();
        }
    }
    struct stat st;
    EXPECT_NE(lstat((target + "-absent").c_str(), &st), 0) << "a file was created through a link";
    EXPECT_EQ(openDescriptors(), before) << "a refused lock left its descriptor open";
}

// An empty directory is the current one, never the root.
TEST(UnixFileLock, EmptyDirectoryIsTheCurrentOne) {
    TempDir dir;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    std::string made;
    try {
        ZUnixProcessReadWriteFileLock_6_0 lock("ovz-empty-directory.lock", "");
        made = lock.path();
    } catch (ZException_6_0& e) {
        ADD_FAILURE() << e.text();
    }
    ASSERT_EQ(chdir(previous), 0);
    if (made == "/ovz-empty-directory.lock") unlink(made.c_str());  // left by a regression
    EXPECT_EQ(made, "./ovz-empty-directory.lock");
    struct stat st;
    EXPECT_EQ(stat((dir.path() + "/ovz-empty-directory.lock").c_str(), &st), 0);
}

TEST(UnixFileLock, UnlockWithoutAHoldIsAnError) {
    TempDir dir;
    ZUnixProcessReadWriteFileLock_6_0 lock("file.lock", dir.path().c_str());
    EXPECT_THROW(lock.unlock(), ZException_6_0);
}

// A process that may read the lock file but neither write nor create it shares read locks
// and is told clearly why it cannot write. Root may write any file, so as root the child
// takes the identity of an unprivileged user first.
TEST(UnixFileLock, AProcessThatMayOnlyReadGetsReadLocks) {
    TempDir dir;
    const std::string lockDir = dir.path() + "/shared";
    ASSERT_EQ(mkdir(lockDir.c_str(), 0755), 0);
    { ZUnixProcessReadWriteFileLock_6_0 made("ro.lock", lockDir.c_str()); }
    ASSERT_EQ(chmod((lockDir + "/ro.lock").c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    if (getuid() != 0) {
        ASSERT_EQ(chmod(lockDir.c_str(), 0555), 0);
    }
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(pipefd[0]);
        std::string report;
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        try {
            ZUnixProcessReadWriteFileLock_6_0 lock("ro.lock", lockDir.c_str());
            report += lock.tryReadLock() ? "read;" : "no-read;";
            lock.unlock();
            lock.readLock();
            lock.unlock();
            report += "blocking-read;";
            try {
                lock.writeLock();
                report += "wrote;";
            } catch (ZException_6_0& e) {
                report += std::string("write-refused:") + e.text() + ";";
            }
            try {
                report += lock.tryWriteLock() ? "tried-write;" : "try-false;";
            } catch (ZException_6_0&) {
                report += "try-refused;";
            }
            // Still usable for reading after the refusals.
            report += lock.tryReadLock() ? "read-again" : "no-read-again";
        } catch (ZException_6_0& e) {
            report += std::string("constructor:") + e.text();
        }
        ssize_t ignored = write(pipefd[1], report.data(), report.size());
        (void)ignored;
        _exit(0);
    }
    close(pipefd[1]);
    std::string report;
    char buf[512];
    for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;) report.append(buf, n);
    close(pipefd[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    chmod(lockDir.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 3) << "cannot take an unprivileged identity";
    EXPECT_EQ(report.rfind("read;blocking-read;write-refused:", 0), 0u) << report;
    EXPECT_NE(report.find(lockDir + "/ro.lock"), std::string::npos) << report;
    EXPECT_NE(report.find("reading only"), std::string::npos) << report;
    EXPECT_NE(report.find("try-refused;read-again"), std::string::npos) << report;
}

// Memory shared with forked children: what the reader threads of a child saw and did.
struct SharedCounters {
    std::atomic<int> readersInside;  // reader threads holding the lock now
    std::atomic<long> readHolds;     // read holds taken so far
    std::atomic<int> stop;           // set by the parent: the children end their loops
    std::atomic<int> overlapSeen;    // a reader saw another reader of its process inside
};

SharedCounters* mapShared() {
    void* p = mmap(nullptr, sizeof(SharedCounters), PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::runtime_error("mmap failed");
    return new (p) SharedCounters{};
}

// A writer of one process gets in while the reader threads of another process overlap without
// a pause (each: read lock, 2 ms, unlock, at once again). Before the gate, the first reader
// thread of the child took the record lock and the last released it, so with overlapping
// threads the child never released it and the writer waited for ever. The children loop until
// the parent tells them to stop, or give up after 30 s: a writer that is not in by then has
// been starved. While the writer holds the lock no reader of the child is inside.
TEST(UnixFileLock, AWriterIsNotStarvedByTheOverlappingReadersOfAnotherProcess) {
    TempDir dir;
    for (int threads : {2, 8}) {
        SCOPED_TRACE(std::to_string(threads) + " reader threads");
        SharedCounters* shared = mapShared();
        pid_t pid = fork();
        if (pid == 0) {
            int code = 0;
            try {
                ZUnixProcessReadWriteFileLock_6_0 lock("file.lock", dir.path().c_str());
                auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                std::vector<std::thread> readers;
                for (int t = 0; t < threads; ++t)
                    readers.emplace_back([&] {
                        while (!shared->stop.load() && std::chrono::steady_clock::now() < until) {
                            lock.readLock();
                            if (shared->readersInside.fetch_add(1) > 0)
                                shared->overlapSeen.store(1);
                            shared->readHolds.fetch_add(1);
                            std::this_thread::sleep_for(std::chrono::milliseconds(2));
                            shared->readersInside.fetch_sub(1);
                            lock.unlock();
                        }
                    });
                for (auto& r : readers) r.join();
                if (!shared->stop.load()) code = 2;  // gave up: the writer never got in
            } catch (...) {
                code = 1;
            }
            _exit(code);
        }
        ZUnixProcessReadWriteFileLock_6_0 lock("file.lock", dir.path().c_str());
        // Wait until the child's readers overlap, so the writer meets them.
        while (shared->overlapSeen.load() == 0 && shared->readHolds.load() < 100000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.writeLock();
        int insideDuringWrite = 0;
        const long holdsAtEntry = shared->readHolds.load();
        for (int i = 0; i < 10; ++i) {
            insideDuringWrite += shared->readersInside.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const long holdsDuringWrite = shared->readHolds.load() - holdsAtEntry;
        lock.unlock();
        shared->stop.store(1);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "2: the writer was starved; 1: the child failed";
        EXPECT_EQ(shared->overlapSeen.load(), 1);
        EXPECT_EQ(insideDuringWrite, 0);
        EXPECT_EQ(holdsDuringWrite, 0);
        munmap(shared, sizeof(SharedCounters));
    }
}

// Several processes, each with a writer and a reader thread, add to a counter kept in a file
// under the write lock; readers check that they never see a half-written value. Every
// increment survives, so the exclusion between processes is exact.
TEST(UnixFileLock, WritersOfSeveralProcessesLoseNoIncrement) {
    TempDir dir;
    const std::string counter = dir.path() + "/counter";
    {
        std::FILE* f = std::fopen(counter.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("0 0\n", f);
        std::fclose(f);
    }
    const int processes = 4, increments = 100;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t pid = fork();
        if (pid == 0) {
            int code = 0;
            try {
                ZUnixProcessReadWriteFileLock_6_0 lock("counter.lock", dir.path().c_str());
                auto readPair = [&](long& a, long& b) {
                    std::FILE* f = std::fopen(counter.c_str(), "r");
                    int n = f ? std::fscanf(f, "%ld %ld", &a, &b) : 0;
                    if (f) std::fclose(f);
                    return n == 2;
                };
                std::atomic<bool> torn{false};
                std::thread reader([&] {
                    for (int i = 0; i < increments; ++i) {
                        lock.readLock();
                        long a = 0, b = 0;
                        if (!readPair(a, b) || a != b) torn = true;
                        lock.unlock();
                    }
                });
                for (int i = 0; i < increments; ++i) {
                    lock.writeLock();
                    long a = 0, b = 0;
                    if (!readPair(a, b)) torn = true;
                    std::FILE* f = std::fopen(counter.c_str(), "r+");
                    std::fprintf(f, "%ld ", a + 1);  // the two halves written apart
                    std::fflush(f);
                    std::fprintf(f, "%ld\n", b + 1);
                    std::fclose(f);
                    lock.unlock();
                }
                reader.join();
                if (torn) code = 2;
            } catch (...) {
                code = 1;
            }
            _exit(code);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "2: a reader saw a half-written value";
    }
    std::FILE* f = std::fopen(counter.c_str(), "r");
    ASSERT_NE(f, nullptr);
    long a = 0, b = 0;
    ASSERT_EQ(std::fscanf(f, "%ld %ld", &a, &b), 2);
    std::fclose(f);
    EXPECT_EQ(a, processes * increments);
    EXPECT_EQ(b, processes * increments);
}

}  // namespace
