// Locks: the guard releases on every way out, reader/writer exclusion between threads, and
// the file lock's exclusion of another process.
#include <ovz/exceptions.h>
#include <ovz/locks.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <memory>
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

// A scratch directory for lock files, removed with its files at the end.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/ovz-locks-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = buf.data();
    }
    ~TempDir() {
        std::string cmd = "rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << path_;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct Kind {
    const char* name;
    std::function<std::unique_ptr<ZAbstractReadWriteLock_6_0>(const std::string& dir)> make;
};

// Test names and failure messages show the kind by its name, not as the struct's bytes,
// which differ from build to build.
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

TEST(UnixFileLock, CreatesThePrivateLockFile) {
    TempDir dir;
    ZUnixProcessReadWriteFileLock_6_0 lock("new.lock", dir.path().c_str());
    EXPECT_EQ(std::string(lock.path()), dir.path() + "/new.lock");
    struct stat st;
    ASSERT_EQ(stat(lock.path(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
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

}  // namespace
