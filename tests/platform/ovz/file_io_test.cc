// Reading whole files and replacing files, with unnamed temporary files and with the named
// ones that file systems without O_TMPFILE get.
#include "file_io.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using ovz_properties::ReplaceOptions;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

class FileIoTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ovz-fileio-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        options_.unnamedFirst = GetParam();
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string dir_;
    ReplaceOptions options_;
};

TEST_P(FileIoTest, NewFilesGetTheUmaskAndExistingFilesKeepTheirBits) {
    mode_t old = umask(027);
    int syncError = -1;
    EXPECT_EQ(ovz_properties::replaceFile(path("new.conf").c_str(), "one\n", options_, &syncError),
              0);
    umask(old);
    EXPECT_EQ(syncError, 0);
    struct stat st;
    ASSERT_EQ(stat(path("new.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(path("new.conf")), "one\n");

    ASSERT_EQ(chmod(path("new.conf").c_str(), 0604), 0);
    EXPECT_EQ(ovz_properties::replaceFile(path("new.conf").c_str(), "two\n", options_, nullptr), 0);
    ASSERT_EQ(stat(path("new.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(readFile(path("new.conf")), "two\n");

    const mode_t asked = 0600;
    ReplaceOptions withMode = options_;
    withMode.newFileMode = &asked;
    EXPECT_EQ(ovz_properties::replaceFile(path("asked.conf").c_str(), "", withMode, nullptr), 0);
    ASSERT_EQ(stat(path("asked.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(names(), (std::vector<std::string>{"asked.conf", "new.conf"}));
}

TEST_P(FileIoTest, RemovesUnlockedDebrisOfTheSameFileOnly) {
    writeFile(path("d.conf"), "old");
    writeFile(path(".d.conf.tmp.123.abcDEF"), "debris");
    writeFile(path(".d.conf.tmp.9.LIVE00"), "being written");
    int live = open(path(".d.conf.tmp.9.LIVE00").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(live, 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(live, F_OFD_SETLK, &lock), 0);
    writeFile(path(".e.conf.tmp.123.abcDEF"), "another file's");
    EXPECT_EQ(ovz_properties::replaceFile(path("d.conf").c_str(), "new", options_, nullptr), 0);
    close(live);
    EXPECT_EQ(readFile(path("d.conf")), "new");
    EXPECT_EQ(names(), (std::vector<std::string>{".d.conf.tmp.9.LIVE00", ".e.conf.tmp.123.abcDEF",
                                                 "d.conf"}));
}

// Several threads replacing one file at once: each store's debris removal must leave the
// other stores' temporary files alone, so that every store succeeds and nothing is left.
TEST_P(FileIoTest, ConcurrentReplacementsNeverTakeEachOthersFiles) {
    const std::string target = path("c.conf");
    writeFile(target, "start");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::string data(4096 + t, static_cast<char>('a' + t));
            for (int i = 0; i < 100; ++i)
                if (ovz_properties::replaceFile(target.c_str(), data, options_, nullptr) != 0)
                    ++failures;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, 0);
    const std::string last = readFile(target);
    ASSERT_GE(last.size(), 4096u);
    EXPECT_EQ(last, std::string(last.size(), static_cast<char>('a' + (last.size() - 4096))));
    EXPECT_EQ(names(), (std::vector<std::string>{"c.conf"}));
}

TEST_P(FileIoTest, FailedReplacementLeavesTheOriginalAndNoTemporaryFile) {
    writeFile(path("keep.conf"), "original");
    ASSERT_EQ(mkdir(path("adir").c_str(), 0700), 0);
    EXPECT_EQ(ovz_properties::replaceFile(path("adir").c_str(), "x", options_, nullptr), EISDIR);
    EXPECT_EQ(ovz_properties::replaceFile(path("keep.conf/inner").c_str(), "x", options_, nullptr),
              ENOTDIR);
    EXPECT_EQ(readFile(path("keep.conf")), "original");
    EXPECT_EQ(names(), (std::vector<std::string>{"adir", "keep.conf"}));
}

// Contents made by a writer as they are written: the file gets every piece in order; a
// writer that fails after some pieces leaves the original as it was and no temporary file.
TEST_P(FileIoTest, WriterContentsReplaceTheFileAndAFailureMidwayLeavesTheOriginal) {
    writeFile(path("w.conf"), "original");
    struct Pieces {
        std::vector<std::string> pieces;
        size_t failAfter;  // pieces written before the writer fails with ENOSPC
    };
    ovz_properties::ContentWriter write = [](void* context, int fd) {
        const auto* p = static_cast<const Pieces*>(context);
        for (size_t i = 0; i < p->pieces.size(); ++i) {
            if (i == p->failAfter) return ENOSPC;
            if (int err = ovz_properties::writeAll(fd, p->pieces[i].data(), p->pieces[i].size()))
                return err;
        }
        return 0;
    };
    Pieces failing{{std::string(65536, 'a'), std::string(65536, 'b'), "c"}, 2};
    EXPECT_EQ(
        ovz_properties::replaceFile(path("w.conf").c_str(), write, &failing, options_, nullptr),
        ENOSPC);
    EXPECT_EQ(readFile(path("w.conf")), "original");
    EXPECT_EQ(names(), (std::vector<std::string>{"w.conf"}));

    Pieces whole{failing.pieces, 3};
    EXPECT_EQ(ovz_properties::replaceFile(path("w.conf").c_str(), write, &whole, options_, nullptr),
              0);
    EXPECT_EQ(readFile(path("w.conf")), whole.pieces[0] + whole.pieces[1] + "c");
    EXPECT_EQ(names(), (std::vector<std::string>{"w.conf"}));
}

// Every extended attribute of `path` (ACLs included: system.posix_acl_access), name -> value.
std::map<std::string, std::string> attributes(const std::string& path) {
    std::map<std::string, std::string> out;
    char names[4096];
    ssize_t n = listxattr(path.c_str(), names, sizeof names);
    for (ssize_t i = 0; i < n;) {
        std::string name(names + i);
        i += static_cast<ssize_t>(name.size()) + 1;
        char value[4096];
        ssize_t v = getxattr(path.c_str(), name.c_str(), value, sizeof value);
        out[name] = v >= 0 ? std::string(value, static_cast<size_t>(v)) : "<unreadable>";
    }
    return out;
}

// The output of a command (standard output only).
std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// What the administrator set on a file survives its replacement: mode, group, the ACL (whose
// mask is the group bits of the mode) and a user attribute.
TEST_P(FileIoTest, ReplacementKeepsAclAttributesAndGroup) {
    const std::string f = path("acl.conf");
    writeFile(f, "old\n");
    ASSERT_EQ(chmod(f.c_str(), 0640), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(f.c_str(), 0, 1), 0);  // a group the owner is not in
    }
    if (setxattr(f.c_str(), "user.note", "kept", 4, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);
    if (std::system("command -v setfacl >/dev/null 2>&1 && command -v getfacl >/dev/null 2>&1") !=
        0)
        GTEST_SKIP() << "setfacl/getfacl (package acl) are not installed";
    if (std::system(("setfacl -m u:65534:rw,g::r '" + f + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system takes no POSIX ACLs";
    const std::string aclBefore = commandOutput("getfacl -n '" + f + "'");
    const auto before = attributes(f);
    ASSERT_TRUE(before.count("system.posix_acl_access"));
    struct stat st0, st1;
    ASSERT_EQ(stat(f.c_str(), &st0), 0);

    ASSERT_EQ(ovz_properties::replaceFile(f.c_str(), "new\n", options_, nullptr), 0);
    EXPECT_EQ(readFile(f), "new\n");
    ASSERT_EQ(stat(f.c_str(), &st1), 0);
    EXPECT_NE(st0.st_ino, st1.st_ino);
    EXPECT_EQ(st1.st_mode & 07777, st0.st_mode & 07777);
    EXPECT_EQ(st1.st_gid, st0.st_gid);
    EXPECT_EQ(st1.st_uid, st0.st_uid);
    EXPECT_EQ(attributes(f), before);
    EXPECT_EQ(commandOutput("getfacl -n '" + f + "'"), aclBefore);
}

// A directory's default ACL does not give a replaced file an access ACL it did not have.
TEST_P(FileIoTest, ReplacementTakesNoAclFromTheDirectory) {
    const std::string f = path("plain.conf");
    writeFile(f, "old\n");
    ASSERT_EQ(chmod(f.c_str(), 0600), 0);
    if (std::system(("setfacl -d -m u:65534:rw '" + dir_ + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no setfacl, or this file system takes no POSIX ACLs";
    ASSERT_EQ(ovz_properties::replaceFile(f.c_str(), "new\n", options_, nullptr), 0);
    EXPECT_EQ(attributes(f).count("system.posix_acl_access"), 0u);
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// An unprivileged caller (nobody) does not replace a file it could not write in place, even
// where the directory lets it make files; where the directory refuses, the error says so.
TEST_P(FileIoTest, AFileTheCallerCouldNotWriteIsNotReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a part as nobody";
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
    const std::string open777 = path("open");
    const std::string closed = path("closed");
    ASSERT_EQ(mkdir(open777.c_str(), 0777), 0);
    ASSERT_EQ(chmod(open777.c_str(), 0777), 0);
    ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
    const std::string rootsFile = open777 + "/root.conf";
    const std::string writable = closed + "/writable.conf";
    writeFile(rootsFile, "root's\n");
    ASSERT_EQ(chmod(rootsFile.c_str(), 0644), 0);
    writeFile(writable, "anyone's\n");
    ASSERT_EQ(chmod(writable.c_str(), 0666), 0);
    struct stat before;
    ASSERT_EQ(stat(rootsFile.c_str(), &before), 0);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        close(report[0]);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(9);
        std::string refusedBy;
        int first = ovz_properties::replaceFile(rootsFile.c_str(), "nobody's\n", options_, nullptr,
                                                &refusedBy);
        std::string firstBy = refusedBy;
        int second = ovz_properties::replaceFile(writable.c_str(), "nobody's\n", options_, nullptr,
                                                 &refusedBy);
        std::string text =
            std::to_string(first) + "|" + firstBy + "|" + std::to_string(second) + "|" + refusedBy;
        (void)!write(report[1], text.data(), text.size());
        _exit(0);
    }
    close(report[1]);
    std::string got;
    char buf[512];
    ssize_t n;
    while ((n = read(report[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    close(report[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(got, std::to_string(EACCES) + "||" + std::to_string(EACCES) + "|" + closed);
    struct stat after;
    ASSERT_EQ(stat(rootsFile.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, 0u);
    EXPECT_EQ(readFile(rootsFile), "root's\n");
    EXPECT_EQ(readFile(writable), "anyone's\n");
}

INSTANTIATE_TEST_SUITE_P(TemporaryFiles, FileIoTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Unnamed") : std::string("Named");
                         });

TEST(ReadWholeFile, ReadsRegularFilesOnlyAndUpToALimit) {
    char tmpl[] = "/tmp/ovz-read-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    writeFile(dir + "/f", "0123456789");
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", (dir + "/zero").c_str()), 0);
    struct Case {
        std::string name;
        size_t limit;
        int result;
    } cases[] = {
        {dir + "/f", 10, 0},
        {dir + "/f", 9, EFBIG},
        {dir + "/fifo", 100, ovz_properties::kNotRegularFile},
        {dir + "/zero", 100, ovz_properties::kNotRegularFile},
        {"/dev/null", 100, ovz_properties::kNotRegularFile},
        {dir, 100, EISDIR},
        {dir + "/missing", 100, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " limit " + std::to_string(c.limit));
        std::string out = "untouched";
        EXPECT_EQ(ovz_properties::readWholeFile(c.name.c_str(), out, c.limit), c.result);
        EXPECT_EQ(out, c.result == 0 ? "0123456789" : "untouched");
    }
    EXPECT_STREQ(ovz_properties::fileErrorText(ovz_properties::kNotRegularFile),
                 "not a regular file");
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

// The buffer is sized by the file's size before the read: a file larger than its size says
// (as /proc files, of size 0, are) and a file of huge-page size must come back byte for
// byte, and the limit must hold also for what the size did not announce.
TEST(ReadWholeFile, ReadsMoreThanTheSizeSaysAndLargeFilesExactly) {
    std::ifstream in("/proc/version", std::ios::binary);
    const std::string expected((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(expected.size(), 16u);
    ovz_properties::ByteBuffer bytes;
    ASSERT_EQ(ovz_properties::readWholeFile("/proc/version", bytes, expected.size()), 0);
    EXPECT_EQ(std::string(bytes.data(), bytes.size()), expected);
    EXPECT_EQ(ovz_properties::readWholeFile("/proc/version", bytes, expected.size() - 1), EFBIG);

    char tmpl[] = "/tmp/ovz-read-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    std::string large(5 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 4096);
    writeFile(dir + "/large", large);
    std::string out;
    ASSERT_EQ(ovz_properties::readWholeFile((dir + "/large").c_str(), out, large.size()), 0);
    EXPECT_TRUE(out == large) << "a 5 MiB file read whole differs from what was written";
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace
