// Configuration items: config_item_load's results and messages, and the C arrays made by
// makearraylist and makekvlist.
#include <ovutil/cfgfile.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <ovsvc/capture.hpp>
#include <ovsvc/svc.h>
#include <ovz/collections.h>
#include <ovz/properties.h>
#include <ovz/strings.h>

namespace {

namespace fs = std::filesystem;

// Runs `body` in a child process that is killed (SIGALRM) when it takes longer than `seconds`.
// Returns the child's exit status, or 1000 + the number of the signal that ended it.
int runInChild(unsigned seconds, const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(seconds);
        _exit(body());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Caps the address space of the calling (child) process at what it uses now plus `extra`.
void capMemory(size_t extra) {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + extra;
    setrlimit(RLIMIT_AS, &limit);
}

class CfgFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ovcfgitem-XXXXXX";
        dir_ = mkdtemp(tmpl);
        // The object library reports its exceptions as fatal records; the capture sees them.
        ov_svc_route(OV_SVC_FATAL, "DISCARD");
        ov_svc_route(OV_SVC_ERROR, "DISCARD");
    }
    void TearDown() override {
        ov_svc_route(OV_SVC_FATAL, "STDERR");
        ov_svc_route(OV_SVC_ERROR, "STDERR");
        fs::remove_all(dir_);
    }
    std::string write(const std::string& name, const std::string& text) {
        std::string p = dir_ + "/" + name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    std::string dir_;
};

TEST_F(CfgFileTest, LoadsItemsFromTheFile) {
    std::string p = write("good.conf",
                          "[meta-info]\nversion = 1552\n[ssl]\nssl-enable-fips = Yes\nport = 0x20\n");
    ZLCString_6_0 fips;
    ZLCString_6_0 missing("untouched");
    int port = 0;
    ZStzFileItem_6_0 items[] = {
        {ZSTZ_ITEM_LCSTRING, "ssl", "ssl-enable-fips", 0, &fips, 0},
        {ZSTZ_ITEM_LCSTRING, "ssl", "absent", 0, &missing, 0},
        {ZSTZ_ITEM_INTEGER, "ssl", "port", 7, &port, 0},
    };
    ovsvc::CaptureSink capture;
    EXPECT_EQ(0u, config_item_load(p.c_str(), items, 3, 0));
    EXPECT_STREQ("Yes", fips.c_str());
    EXPECT_STREQ("untouched", missing.c_str());
    EXPECT_EQ(32, port);
    EXPECT_EQ(1u, items[0].found);
    EXPECT_EQ(0u, items[1].found);
    EXPECT_EQ(0u, capture.size());
}

TEST_F(CfgFileTest, FailuresAreLoggedAndReturnedNeverThrown) {
    struct Case {
        const char* name;
        const char* text;  // null: the file does not exist
        bool nullTarget;   // an item the library refuses
        unsigned int status;
        unsigned int msgid;
        const char* format;
        bool withReason;   // the second insert, 1
        const char* exceptionName;
    } cases[] = {
        {"invalid.conf", "[ssl]\nthis is not a key value line\n", false, OV_CFG_S_INVALID_DATA,
         0x1354A0C3, "%s", false, "ZPropertiesInvalidDataException"},
        {"nokey.conf", "key = before any stanza\n", false, OV_CFG_S_INVALID_DATA, 0x1354A0C3, "%s",
         false, "ZPropertiesInvalidDataException"},
        {"missing.conf", nullptr, false, OV_CFG_S_LOAD_FAILED, 0x1354A09A, "%s%d", true, "ZException"},
        {"refused.conf", "[meta-info]\nversion = 1552\n", true, OV_CFG_S_LOAD_FAILED, 0x1354A09A,
         "%s%d", true, "ZException"},
    };
    ov_svc_set_debug_level(ov_ras_svc_handle, 3, 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string p = c.text ? write(c.name, c.text) : dir_ + "/" + c.name;
        ZLCString_6_0 value("before");
        ZStzFileItem_6_0 item = {ZSTZ_ITEM_LCSTRING, "ssl", "k", 0, c.nullTarget ? nullptr : &value, 0};
        ovsvc::CaptureSink capture;
        unsigned int status = 0;
        EXPECT_NO_THROW(status = config_item_load(p.c_str(), &item, 1, 0));
        EXPECT_EQ(c.status, status);
        EXPECT_STREQ("before", value.c_str());

        auto records = capture.withMsgid(c.msgid);
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(wvcore_svc_handle, records[0].handle);
        EXPECT_EQ(32u, records[0].attributes);
        EXPECT_EQ(0u, records[0].subcomp);
        EXPECT_TRUE(records[0].utf8);
        EXPECT_EQ("src/util/cfgfile", records[0].file);
        EXPECT_EQ(c.format, records[0].format);
        std::vector<std::string> inserts{p};
        if (c.withReason)
            inserts.push_back("1");
        EXPECT_EQ(inserts, records[0].inserts);
        // The general message of the other case is not logged as well.
        EXPECT_TRUE(capture.withMsgid(c.msgid == 0x1354A0C3 ? 0x1354A09A : 0x1354A0C3).empty());

        // The exception logged itself through the object library's handle.
        bool reported = false;
        for (const auto& r : capture.records())
            if (!r.is_debug && r.handle == ovz_svc_handle) reported = true;
        EXPECT_TRUE(reported);
        int debugLines = 0;
        for (const auto& d : capture.debugRecords())
            if (d.handle == ov_ras_svc_handle && d.subcomp == 3 && d.level == 9 &&
                d.text.find(std::string(c.exceptionName) + " Exception caught.") != std::string::npos)
                ++debugLines;
        EXPECT_EQ(1, debugLines);
    }
    ov_svc_set_debug_level(ov_ras_svc_handle, 3, 0);
}

// A device or a FIFO named as a configuration file is a load failure, reported at once: not a
// read that runs out of memory, nor an open that waits for a writer.
TEST_F(CfgFileTest, DevicesAndFifosAreLoadFailures) {
    const std::string fifo = dir_ + "/fifo.conf";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::string zeroLink = dir_ + "/zero.conf";
    ASSERT_EQ(0, symlink("/dev/zero", zeroLink.c_str()));
    for (const std::string& name : {std::string("/dev/zero"), zeroLink, fifo}) {
        SCOPED_TRACE(name);
        int rc = runInChild(20, [&] {
            if (!kSanitized)
                capMemory(size_t{256} << 20);
            ovsvc::CaptureSink capture;
            ZLCString_6_0 value;
            ZStzFileItem_6_0 item = {ZSTZ_ITEM_LCSTRING, "ssl", "k", 0, &value, 0};
            try {
                if (config_item_load(name.c_str(), &item, 1, 0) != OV_CFG_S_LOAD_FAILED)
                    return 1;
            } catch (...) {
                return 2;
            }
            return capture.withMsgid(0x1354A09A).size() == 1 ? 0 : 3;
        });
        EXPECT_EQ(0, rc) << "1000 + 14: the load hung; 2: an exception escaped";
    }
}

// Running out of memory while loading is a load failure too: std::bad_alloc never leaves
// config_item_load.
TEST_F(CfgFileTest, OutOfMemoryIsALoadFailure) {
    if (kSanitized)
        GTEST_SKIP() << "an address-space cap cannot be combined with a sanitizer's shadow memory";
    // A sparse file of 1 GiB: reading it needs more memory than the cap leaves.
    const std::string big = dir_ + "/big.conf";
    int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, off_t{1} << 30));
    close(fd);
    int rc = runInChild(60, [&] {
        ovsvc::CaptureSink capture;
        capMemory(size_t{128} << 20);
        ZLCString_6_0 value;
        ZStzFileItem_6_0 item = {ZSTZ_ITEM_LCSTRING, "ssl", "k", 0, &value, 0};
        try {
            if (config_item_load(big.c_str(), &item, 1, 0) != OV_CFG_S_LOAD_FAILED)
                return 1;
        } catch (...) {
            return 2;
        }
        return capture.withMsgid(0x1354A09A).size() + capture.withMsgid(0x10652065).size() == 1 ? 0 : 3;
    });
    EXPECT_EQ(0, rc) << "2: an exception escaped; 1000 + 6: the process aborted";
}

TEST(MakeArrayList, CopiesEveryStringByteForByteAndEndsWithNull) {
    ZArrayList_6_0 list(2, 1);
    list.add(ZUTF8String_6_0("alpha"));
    list.add(ZUTF8String_6_0(""));
    list.add(ZUTF8String_6_0("caf\xc3\xa9 = x"));
    list.add(ZLCString_6_0("local"));
    const std::vector<std::string> expected{"alpha", "", "caf\xc3\xa9 = x", "local"};

    char** out = reinterpret_cast<char**>(0x1);
    EXPECT_EQ(0, makearraylist(list, out));
    ASSERT_NE(nullptr, out);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(nullptr, out[i]);
        ASSERT_EQ(expected[i].size(), std::strlen(out[i]));
        EXPECT_EQ(0, std::memcmp(expected[i].data(), out[i], expected[i].size() + 1));
        // A copy, not the list's own text.
        EXPECT_NE(static_cast<const ZAbstractString_6_0*>(list.get(i))->getChars(), out[i]);
    }
    EXPECT_EQ(nullptr, out[expected.size()]);
    for (size_t i = 0; i < expected.size(); ++i) free(out[i]);
    free(out);

    ZArrayList_6_0 empty(1, 1);
    char** none = nullptr;
    EXPECT_EQ(0, makearraylist(empty, none));
    ASSERT_NE(nullptr, none);
    EXPECT_EQ(nullptr, none[0]);
    free(none);
}

TEST(MakeKvList, CopiesPairsWithTheirLengthsAndLeavesTheFirstWordAlone) {
    ZPropertiesKVList_6_0 pairs;
    pairs.addItem("k1", "v1");
    pairs.addItem("key-two", "");
    pairs.addItem("k1", "again = caf\xc3\xa9");
    const std::vector<std::pair<std::string, std::string>> expected{
        {"k1", "v1"}, {"key-two", ""}, {"k1", "again = caf\xc3\xa9"}};

    kvlist_s_t list;
    list.user_word = 0xDEADBEEFu;
    EXPECT_EQ(0, makekvlist(pairs, list));
    EXPECT_EQ(0xDEADBEEFu, list.user_word);
    ASSERT_EQ(3, list.count);
    ASSERT_NE(nullptr, list.items);
    EXPECT_EQ(list.items + 3, list.next);
    for (int i = 0; i < list.count; ++i) {
        SCOPED_TRACE(i);
        const kvlist_entry_s_t& e = list.items[i];
        ASSERT_EQ(expected[i].first.size(), e.key_len);
        ASSERT_EQ(expected[i].second.size(), e.value_len);
        EXPECT_EQ(0, std::memcmp(expected[i].first.c_str(), e.key, e.key_len + 1));
        EXPECT_EQ(0, std::memcmp(expected[i].second.c_str(), e.value, e.value_len + 1));
        EXPECT_NE(pairs.getItemKey(i), e.key);
        free(e.key);
        free(e.value);
    }
    free(list.items);

    ZPropertiesKVList_6_0 none;
    kvlist_s_t empty;
    empty.user_word = 7;
    empty.count = 99;
    empty.items = reinterpret_cast<kvlist_entry_s_t*>(0x1);
    EXPECT_EQ(0, makekvlist(none, empty));
    EXPECT_EQ(7u, empty.user_word);
    EXPECT_EQ(0, empty.count);
    EXPECT_EQ(nullptr, empty.items);
}

}  // namespace
