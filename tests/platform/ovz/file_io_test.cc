// Reading whole files and replacing files, with unnamed temporary files and with the named
// ones that file systems without O_TMPFILE get.
#include "file_io.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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

}  // namespace
