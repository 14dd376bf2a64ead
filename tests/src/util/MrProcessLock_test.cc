// The process lock factory: which lock each kind and form of newLock makes, where file locks
// go, that a lock keeps what it was made with, and that a file lock made by the factory
// excludes another process.
#include <ovutil/MrProcessLock.h>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "harness/temp_dir.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <ovz/exceptions.h>

namespace {

using ovtest::TempDir;

std::string text(const ZUTF8String_6_0& s) { return s.getChars() ? s.getChars() : ""; }

using LockPtr = std::unique_ptr<ZAbstractReadWriteLock_6_0>;

// Describes the lock: "stub:<name>", "thread" or "file:<path>".
std::string describe(ZAbstractReadWriteLock_6_0* lock) {
    if (auto* stub = dynamic_cast<ZStubProcessReadWriteFileLock_6_0*>(lock))
        return std::string("stub:") + stub->name();
    if (auto* file = dynamic_cast<ZUnixProcessReadWriteFileLock_6_0*>(lock))
        return std::string("file:") + file->path();
    if (dynamic_cast<ZReadWriteLock_6_0*>(lock)) return "thread";
    return "unknown";
}

// The singleton outlives each test; every test starts and ends with its initial settings.
class Factory : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        MrProcessLockFactory::getLockFactory()->setFactoryType(stubLock);
        MrProcessLockFactory::getLockFactory()->setLockDirectory(".");
    }
    MrProcessLockFactory& factory() { return *MrProcessLockFactory::getLockFactory(); }
};

TEST_F(Factory, StartsWithStubLocksInTheCurrentDirectory) {
    EXPECT_EQ(factory().getFactoryType(), stubLock);
    EXPECT_EQ(text(factory().getLockDirectory()), ".");
    EXPECT_EQ(&factory(), MrProcessLockFactory::theLockFactory_);
    LockPtr lock(MrProcessLockFactory::newLock("session.lock"));
    EXPECT_EQ(describe(lock.get()), "stub:session.lock");
    EXPECT_STREQ(MrProcessLockFactory::policyserverPrefix, "ebb");
}

// Every kind through every form of newLock: the kind given, or the factory's; the directory
// given, or the factory's.
TEST_F(Factory, EachKindMakesItsLockClassThroughEveryForm) {
    TempDir dir;
    const std::string file = "file:" + dir.path() + "/db.lock";
    struct Case {
        int type;
        std::string made;
    } cases[] = {
        {0, "stub:db.lock"}, {1, "thread"}, {2, file}, {7, "thread"}, {-1, "thread"},
    };
    factory().setLockDirectory(dir.path().c_str());
    for (const Case& c : cases) {
        const auto type = static_cast<mrproclocktype>(c.type);
        SCOPED_TRACE("type " + std::to_string(c.type));
        LockPtr given(MrProcessLockFactory::newLock("db.lock", type, dir.path().c_str()));
        EXPECT_EQ(describe(given.get()), c.made) << "newLock(name, type, directory)";
        LockPtr withDirectory(MrProcessLockFactory::newLock("db.lock", type));
        EXPECT_EQ(describe(withDirectory.get()), c.made) << "newLock(name, type)";
        factory().setFactoryType(type);
        EXPECT_EQ(factory().getFactoryType(), type);
        LockPtr byName(MrProcessLockFactory::newLock("db.lock"));
        EXPECT_EQ(describe(byName.get()), c.made) << "newLock(name)";
    }
}

TEST_F(Factory, LocksKeepTheSettingsTheyWereMadeWith) {
    TempDir first, second;
    std::vector<char> buffer(first.path().begin(), first.path().end());
    buffer.push_back('\0');
    factory().setLockDirectory(buffer.data());
    std::memset(buffer.data(), 'x', buffer.size() - 1);  // the factory keeps its own copy
    EXPECT_EQ(text(factory().getLockDirectory()), first.path());
    factory().setFactoryType(unixFileLock);
    LockPtr before(MrProcessLockFactory::newLock("a.lock"));

    factory().setLockDirectory(second.path().c_str());
    factory().setFactoryType(threadLock);
    LockPtr after(MrProcessLockFactory::newLock("a.lock"));
    LockPtr fileAfter(MrProcessLockFactory::newLock("a.lock", unixFileLock));

    EXPECT_EQ(describe(before.get()), "file:" + first.path() + "/a.lock");
    EXPECT_EQ(describe(after.get()), "thread");
    EXPECT_EQ(describe(fileAfter.get()), "file:" + second.path() + "/a.lock");
}

// An empty lock directory (set as "" or as null) puts file locks in the current directory,
// as the initial "." does; never in the root.
TEST_F(Factory, EmptyLockDirectoryIsTheCurrentOne) {
    TempDir dir;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    factory().setFactoryType(unixFileLock);
    std::vector<std::string> made;
    for (const char* directory : {"", static_cast<const char*>(nullptr)}) {
        factory().setLockDirectory(directory);
        try {
            LockPtr lock(MrProcessLockFactory::newLock("ovutil-factory-empty.lock"));
            made.push_back(describe(lock.get()));
        } catch (ZException_6_0& e) {
            made.push_back(std::string("refused: ") + e.text());
        }
    }
    ASSERT_EQ(chdir(previous), 0);
    for (const std::string& m : made)
        if (m == "file:/ovutil-factory-empty.lock")
            unlink("/ovutil-factory-empty.lock");  // left in the root by a regression
    const std::vector<std::string> expected(2, "file:./ovutil-factory-empty.lock");
    EXPECT_EQ(made, expected);
    EXPECT_EQ(access((dir.path() + "/ovutil-factory-empty.lock").c_str(), F_OK), 0);
}

// What the lock classes refuse reaches the caller, and the memory of the refused lock is
// released (AddressSanitizer's leak check sees to that).
TEST_F(Factory, RefusalsOfTheLockClassesPassToTheCaller) {
    TempDir dir;
    const std::string missing = dir.path() + "/no/such/directory";
    try {
        LockPtr lock(MrProcessLockFactory::newLock("x.lock", unixFileLock, missing.c_str()));
        FAIL() << "a lock file in a missing directory was made";
    } catch (ZException_6_0& e) {
        EXPECT_EQ(e.kind(), ZEXC_LOCK_FAILURE);
    }
    EXPECT_THROW(MrProcessLockFactory::newLock(nullptr, stubLock, "."),
                 ZInvalidParameterException_6_0);
    EXPECT_THROW(MrProcessLockFactory::newLock("x.lock", unixFileLock, nullptr),
                 ZInvalidParameterException_6_0);
    // An in-process lock uses neither the name nor the directory.
    LockPtr plain(MrProcessLockFactory::newLock(nullptr, threadLock, nullptr));
    EXPECT_EQ(describe(plain.get()), "thread");
}

// A child process makes its own lock of the same name through the factory; the parent and
// the child exclude each other. Steps are ordered through two pipes.
TEST_F(Factory, FileLocksOfTheFactoryExcludeAnotherProcess) {
    TempDir dir;
    factory().setLockDirectory(dir.path().c_str());
    factory().setFactoryType(unixFileLock);
    LockPtr lock(MrProcessLockFactory::newLock("shared.lock"));

    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The child: holds a write lock until told, then reports what its tries get while
        // the parent holds one.
        int code = 0;
        char step = 0;
        try {
            LockPtr mine(MrProcessLockFactory::newLock("shared.lock"));
            mine->writeLock();
            if (write(toParent[1], "H", 1) != 1 || read(toChild[0], &step, 1) != 1) _exit(10);
            mine->unlock();
            if (write(toParent[1], "U", 1) != 1 || read(toChild[0], &step, 1) != 1) _exit(11);
            // The parent holds a write lock now.
            if (mine->tryWriteLock() || mine->tryReadLock()) code = 1;
        } catch (...) {
            code = 12;
        }
        _exit(code);
    }
    char step = 0;
    ASSERT_EQ(read(toParent[0], &step, 1), 1);
    ASSERT_EQ(step, 'H');
    EXPECT_FALSE(lock->tryWriteLock()) << "the child's write hold lets the parent write";
    EXPECT_FALSE(lock->tryReadLock()) << "the child's write hold lets the parent read";
    ASSERT_EQ(write(toChild[1], "1", 1), 1);
    ASSERT_EQ(read(toParent[0], &step, 1), 1);
    ASSERT_EQ(step, 'U');
    EXPECT_TRUE(lock->tryWriteLock()) << "the child has released its hold";
    ASSERT_EQ(write(toChild[1], "2", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    lock->unlock();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the child got a hold beside the parent's write";
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

}  // namespace
