// Stanza-file properties objects: load/store round trip, edits, errors, crash-safe store,
// the registry, the value iterator, item tables and stanza lists.
#include <ovz/exceptions.h>
#include <ovz/properties.h>

#include <gtest/gtest.h>

#include <ovsvc/capture.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

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

std::vector<std::string> dirEntries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// Runs `body` in a child process that is killed (SIGALRM) when it takes longer than `seconds`.
// Returns the child's exit status, or 1000 + the number of the signal that ended it.
int runInChild(unsigned seconds, const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(seconds);
        int rc = 99;
        try {
            rc = body();
        } catch (...) {
            rc = 98;
        }
        _exit(rc);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// Caps the address space of a child process at what it uses now plus `extra` bytes, so that
// a read that never ends fails soon instead of taking the machine's memory. Sanitizers
// reserve vast address ranges, so their builds go without the cap.
void capMemory(size_t extra) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + extra;
    setrlimit(RLIMIT_AS, &limit);
#else
    (void)extra;
#endif
}

// Whether process `pid` has a file inside `directory` open.
bool writesInto(pid_t pid, const std::string& directory) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    bool found = false;
    if (DIR* d = opendir(fds.c_str())) {
        while (dirent* e = readdir(d)) {
            char target[PATH_MAX];
            ssize_t n = readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
            if (n > 0 && static_cast<size_t>(n) > directory.size() &&
                std::string(target, static_cast<size_t>(n))
                        .compare(0, directory.size() + 1, directory + "/") == 0)
                found = true;
        }
        closedir(d);
    }
    return found;
}

// Restores the working directory when it goes out of scope.
class CwdGuard {
public:
    CwdGuard() : fd_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~CwdGuard() {
        if (fd_ >= 0) {
            if (fchdir(fd_) != 0) std::abort();
            close(fd_);
        }
    }

private:
    int fd_;
};

// Counts its loads; the registry tests tell objects apart by it.
class CountingProperties : public ZStanzaFileProperties_6_0 {
public:
    void postLoad(const char* fileName) override {
        ++postLoads;
        lastFile = fileName;
    }
    std::atomic<int> postLoads{0};
    std::string lastFile;
};

class CountingFactory : public ZAbstractPropertiesFactory_6_0 {
public:
    ZProperties_6_0* makePropertiesInstance() override {
        ++made;
        return new CountingProperties;
    }
    std::atomic<int> made{0};
};

class StanzaFilePropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ovz-props-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        for (const std::string& n : dirEntries(dir_)) chmod((dir_ + "/" + n).c_str(), 0700);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

const char kSample[] =
    "# Product configuration\n"
    "\n"
    "[ssl]\n"
    "ssl-local-domain = Default\n"
    "# the timeout\n"
    "timeout = 30\n"
    "\n"
    "[aznapi-configuration]\n"
    "cred-attribute-entitlement-services = one\n"
    "cred-attribute-entitlement-services = two\n"
    "ov-user-name = a/b/c\n";

TEST_F(StanzaFilePropertiesTest, StoringAnUnchangedFileWritesTheSameBytes) {
    const char* cases[] = {
        kSample,
        "",
        "[a]\r\nk = v\r\n",
        "[a]\nk = v",
        "  # indented\n\t[ a ]\t\nk\t=\tv=w\t\n\n\n",
        "[a]\nk =\nk = \nk = x\n",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(text)));
        writeFile(path("in.conf"), text);
        ZStanzaFileProperties_6_0 props;
        props.load(path("in.conf").c_str());
        props.store(path("out.conf").c_str());
        EXPECT_EQ(readFile(path("out.conf")), text);
        props.store();  // to the loaded file itself
        EXPECT_EQ(readFile(path("in.conf")), text);
    }
}

TEST_F(StanzaFilePropertiesTest, ReadsValuesDefaultsIntegersAndBooleans) {
    writeFile(path("r.conf"),
              "[s]\nname = caf\xc3\xa9\nempty =\nhex = 0x610\ndec = 1552\nneg = -3\nbad = 12x\n"
              "yes = YES\noff = off\nodd = maybe\nmulti = a\nmulti = b\n");
    ZStanzaFileProperties_6_0 props;
    props.load(path("r.conf").c_str());
    ZUTF8String_6_0 u("stale");
    EXPECT_EQ(props.getValue("s", "name", u), 1);
    EXPECT_STREQ(u.c_str(), "caf\xc3\xa9");
    EXPECT_EQ(props.getValue("s", "empty", u), 1);
    EXPECT_TRUE(u.isEmpty());
    u = "stale";
    EXPECT_EQ(props.getValue("s", "absent", u), 0);
    EXPECT_TRUE(u.isEmpty());
    EXPECT_EQ(props.getValue("nostanza", "name", u, 0, "dflt"), 0);
    EXPECT_STREQ(u.c_str(), "dflt");
    ZLCString_6_0 l;
    EXPECT_EQ(props.getValue("s", "multi", l, 1, nullptr), 1);
    EXPECT_STREQ(l.c_str(), "b");
    EXPECT_EQ(props.getValue("s", "multi", l, 2, nullptr), 0);

    EXPECT_EQ(props.getIntegerValue("s", "hex", 0, 0), 0x610);
    EXPECT_EQ(props.getIntegerValue("s", "dec", 0, 0), 1552);
    EXPECT_EQ(props.getIntegerValue("s", "neg", 0, 0), -3);
    EXPECT_EQ(props.getIntegerValue("s", "bad", 7, 0), 7);
    EXPECT_EQ(props.getIntegerValue("s", "absent", 0, 0), 0);
    EXPECT_EQ(props.getBooleanValue("s", "yes", 0, 0), 1);
    EXPECT_EQ(props.getBooleanValue("s", "off", 1, 0), 0);
    EXPECT_EQ(props.getBooleanValue("s", "odd", 1, 0), 1);

    EXPECT_EQ(props.exists("s"), 1);
    EXPECT_EQ(props.exists("S"), 0);
    EXPECT_EQ(props.exists("s", "empty"), 1);
    EXPECT_EQ(props.exists("s", "absent"), 0);
    EXPECT_EQ(props.count(), 1u);
    EXPECT_EQ(props.count("s"), 10u);
    EXPECT_EQ(props.numValues("s", "multi"), 2u);
    EXPECT_EQ(props.numValues("s"), 11u);
    ZArrayList_6_0 values(2, 1);
    EXPECT_EQ(props.getValues("s", "multi", values, ZPROPERTY_STRING_UTF8), 2u);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_NE(dynamic_cast<ZUTF8String_6_0*>(values.get(0)), nullptr);
    EXPECT_STREQ(static_cast<ZUTF8String_6_0*>(values.get(1))->c_str(), "b");
}

// The changes a post-load upgrade makes, checked against the whole stored text.
TEST_F(StanzaFilePropertiesTest, EditsAreStoredTouchingOnlyTheirLines) {
    writeFile(path("e.conf"), kSample);
    ZStanzaFileProperties_6_0 props;
    props.load(path("e.conf").c_str());
    props.setIntegerValue("meta-info", "version", 0x610);
    props.addStanzaComment("meta-info", "#\n# Meta stanza\n#");
    props.addEntryComment("meta-info", "version", "#\n# version =\n#");
    props.setValue("ssl", "ssl-enable-fips", "no");
    props.addEntryComment("ssl", "ssl-enable-fips", "# Enable FIPS\n# mode");
    props.setValue("ssl", "timeout", ZLCString_6_0("60"), 0);
    props.addValue("aznapi-configuration", "cred-attribute-entitlement-services", "LEGACY_x", 0);
    props.setBooleanValue("ovrte", "boot-start-ovproxyd", 0);
    props.deleteKey("aznapi-configuration", "ov-user-name");
    props.store();
    EXPECT_EQ(readFile(path("e.conf")),
              "# Product configuration\n"
              "\n"
              "[ssl]\n"
              "ssl-local-domain = Default\n"
              "# the timeout\n"
              "timeout = 60\n"
              "# Enable FIPS\n"
              "# mode\n"
              "ssl-enable-fips = no\n"
              "\n"
              "[aznapi-configuration]\n"
              "cred-attribute-entitlement-services = one\n"
              "cred-attribute-entitlement-services = two\n"
              "cred-attribute-entitlement-services = LEGACY_x\n"
              "\n"
              "#\n"
              "# Meta stanza\n"
              "#\n"
              "[meta-info]\n"
              "#\n"
              "# version =\n"
              "#\n"
              "version = 1552\n"
              "\n"
              "[ovrte]\n"
              "boot-start-ovproxyd = no\n");
    ZStanzaFileProperties_6_0 again;
    again.load(path("e.conf").c_str());
    EXPECT_EQ(again.getIntegerValue("meta-info", "version", 0, 0), 1552);
    EXPECT_EQ(again.getBooleanValue("ovrte", "boot-start-ovproxyd", 1, 0), 0);
}

TEST_F(StanzaFilePropertiesTest, StanzaEditsAndKeyNames) {
    writeFile(path("k.conf"), "[tags]\nB = 2\nA = 1\nB = 3\n\n# about other\n[other]\nx = 1\n");
    ZStanzaFileProperties_6_0 props;
    props.load(path("k.conf").c_str());
    ZArrayList_6_0 names(10, 1);
    EXPECT_EQ(props.keyNames("tags", names), 2u);
    ASSERT_EQ(names.size(), 2u);
    ASSERT_NE(dynamic_cast<ZLCString_6_0*>(names.get(0)), nullptr);
    EXPECT_STREQ(static_cast<ZLCString_6_0*>(names.get(0))->c_str(), "B");
    EXPECT_STREQ(static_cast<ZLCString_6_0*>(names.get(1))->c_str(), "A");
    EXPECT_EQ(props.addStanza("tags"), 0);
    EXPECT_EQ(props.addStanza("ovconfig"), 1);
    EXPECT_EQ(props.deleteStanza("tags"), 1);
    EXPECT_EQ(props.deleteStanza("tags"), 0);
    EXPECT_EQ(props.addStanzaComment("absent", "x"), 0);
    EXPECT_EQ(props.addEntryComment("other", "absent", "x"), 0);
    props.addFileComment("generated");
    props.store();
    EXPECT_EQ(readFile(path("k.conf")),
              "# generated\n\n# about other\n[other]\nx = 1\n\n[ovconfig]\n");
}

TEST_F(StanzaFilePropertiesTest, RenamedStanzaIsStoredInPlace) {
    writeFile(path("r.conf"), "# about old\n[old]  # note\nk = v\n\n[other]\nx = 1\n");
    ZStanzaFileProperties_6_0 props;
    props.load(path("r.conf").c_str());
    EXPECT_EQ(props.renameStanza("old", "other"), 0);
    EXPECT_EQ(props.renameStanza("absent", "new"), 0);
    EXPECT_EQ(props.renameStanza("old", "new"), 1);
    EXPECT_EQ(props.exists("old"), 0);
    EXPECT_EQ(props.exists("new", "k"), 1);
    EXPECT_THROW(props.renameStanza("new", "bad] # name"), ZInvalidParameterException_6_0);
    EXPECT_THROW(props.renameStanza("new", ""), ZInvalidParameterException_6_0);
    props.store();
    EXPECT_EQ(readFile(path("r.conf")), "# about old\n[new]  # note\nk = v\n\n[other]\nx = 1\n");
}

// check() reports what load() refuses, line by line, and fails like load() on a file it
// cannot read.
TEST_F(StanzaFilePropertiesTest, CheckReportsEveryLineThatLoadWouldRefuse) {
    writeFile(path("good.conf"), kSample);
    EXPECT_TRUE(ZStanzaFileProperties_6_0::check(path("good.conf").c_str()).empty());

    writeFile(path("bad.conf"), "orphan = 1\n[a]\nk = v\nno equals sign\n[]\n = v\n");
    std::vector<ZStanzaFileProblem_6_0> problems =
        ZStanzaFileProperties_6_0::check(path("bad.conf").c_str());
    std::vector<unsigned long> lines;
    for (const auto& p : problems) lines.push_back(p.line);
    EXPECT_EQ(lines, (std::vector<unsigned long>{1, 4, 5, 6}));
    ZStanzaFileProperties_6_0 props;
    try {
        props.load(path("bad.conf").c_str());
        ADD_FAILURE() << "no exception";
    } catch (ZPropertiesInvalidDataException_6_0& e) {
        ASSERT_FALSE(problems.empty());
        EXPECT_EQ(e.lineNumber(), 1);
        EXPECT_STREQ(e.reason(), problems[0].reason);
    }

    mkfifo(path("fifo.conf").c_str(), 0600);
    for (const std::string& name : {path("missing.conf"), path("fifo.conf")}) {
        SCOPED_TRACE(name);
        try {
            ZStanzaFileProperties_6_0::check(name.c_str());
            ADD_FAILURE() << "no exception";
        } catch (ZException_6_0& e) {
            EXPECT_EQ(e.kind(), ZEXC_FILE_READ);
            EXPECT_EQ(std::string(e.inserts()[0].text()), name);
        }
    }
}

TEST_F(StanzaFilePropertiesTest, InvalidDataNamesFileAndLineAndKeepsTheOldContents) {
    using namespace std::string_literals;
    struct Case {
        std::string text;
        int line;
    } cases[] = {
        {"orphan = 1\n[a]\n", 1},  {"[a]\nk = v\nno equals sign\n", 3},
        {"[a]\n\n\n[broken\n", 4}, {"[a]\r\n=v\r\n", 2},
        {"[a]\nk = v\n[]\n", 3},   {"[a]\nk = v\n\nk = nul\0byte\n"s, 4},
    };
    writeFile(path("good.conf"), "[keep]\nk = v\n");
    ZStanzaFileProperties_6_0 props;
    props.load(path("good.conf").c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        writeFile(path("bad.conf"), c.text);
        try {
            props.load(path("bad.conf").c_str());
            ADD_FAILURE() << "no exception";
        } catch (ZPropertiesInvalidDataException_6_0& e) {
            EXPECT_EQ(e.kind(), ZEXC_PROPERTIES_INVALID_DATA);
            EXPECT_EQ(std::string(e.fileName()), path("bad.conf"));
            EXPECT_EQ(e.lineNumber(), c.line);
            EXPECT_STRNE(e.reason(), "");
        }
        EXPECT_EQ(props.exists("keep", "k"), 1);
    }
}

TEST_F(StanzaFilePropertiesTest, UnreadableFileIsAFileReadFailure) {
    mkdir(path("adir").c_str(), 0700);
    const std::string names[] = {path("missing.conf"), path("adir")};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ZStanzaFileProperties_6_0 props;
        try {
            props.load(name.c_str());
            ADD_FAILURE() << "no exception";
        } catch (ZPropertiesInvalidDataException_6_0&) {
            ADD_FAILURE() << "a missing file is no invalid data";
        } catch (ZException_6_0& e) {
            EXPECT_EQ(e.kind(), ZEXC_FILE_READ);
            ASSERT_EQ(e.inserts().size(), 2u);
            EXPECT_EQ(std::string(e.inserts()[0].text()), name);
        }
    }
}

TEST_F(StanzaFilePropertiesTest, RefusesArgumentsThatCannotBeStored) {
    ZStanzaFileProperties_6_0 props;
    struct Case {
        const char* stanza;
        const char* key;
        const char* value;
    } cases[] = {
        {nullptr, "k", "v"},      {"s", nullptr, "v"},   {"", "k", "v"},
        {"s", "", "v"},           {"s", "a=b", "v"},     {"s", "#k", "v"},
        {"s", "k", "two\nlines"}, {"s", "k", " padded"}, {"s\n", "k", "v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.stanza ? c.stanza : "(null)") + "/" +
                                              (c.key ? c.key : "(null)") + "/" + c.value));
        EXPECT_THROW(props.setValue(c.stanza, c.key, c.value), ZInvalidParameterException_6_0);
        EXPECT_THROW(props.addValue(c.stanza, c.key, c.value, 0), ZInvalidParameterException_6_0);
    }
    EXPECT_THROW(props.setValue("s", "k", "v", 1), ZInvalidParameterException_6_0);
    EXPECT_EQ(props.count(), 0u);
}

TEST_F(StanzaFilePropertiesTest, ValueIteratorYieldsAndRemovesValues) {
    writeFile(path("it.conf"), "[s]\nk = a\nk = b\nk = a\nsingle = x\n");
    ZStanzaFileProperties_6_0 props;
    props.load(path("it.conf").c_str());

    // Remove the first "a" only, as a value search does.
    {
        ZStanzaValueIterator_6_0 it(props, "s", "k", 0, 0);
        const char* v = nullptr;
        while (it.hasMore()) {
            it.nextValue(v);
            if (std::strcmp(v, "a") == 0) {
                EXPECT_EQ(it.removeValue(), 1);
                break;
            }
        }
    }
    ZArrayList_6_0 left(3, 1);
    props.getValues("s", "k", left, ZPROPERTY_STRING_UTF8);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_STREQ(static_cast<ZUTF8String_6_0*>(left.get(0))->c_str(), "b");
    EXPECT_STREQ(static_cast<ZUTF8String_6_0*>(left.get(1))->c_str(), "a");

    // Removing every value, one after the other, removes the key.
    {
        ZStanzaValueIterator_6_0 it(props, "s", "k", ZPROPERTY_STRING_UTF8, 0);
        const char* v;
        std::vector<std::string> seen;
        while (it.nextValue(v)) {
            seen.push_back(v);
            EXPECT_EQ(it.removeValue(), 1);
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"b", "a"}));
        EXPECT_THROW(it.removeValue(), ZException_6_0);
    }
    EXPECT_EQ(props.exists("s", "k"), 0);
    EXPECT_EQ(props.exists("s", "single"), 1);

    ZStanzaValueIterator_6_0 none(props, "nostanza", "k", 0, 0);
    EXPECT_FALSE(none.hasMore());
    ZStanzaValueIterator_6_0 nokey(props, "s", "nokey", 0, 0);
    EXPECT_FALSE(nokey.hasMore());
    EXPECT_THROW(nokey.removeValue(), ZException_6_0);
}

TEST_F(StanzaFilePropertiesTest, GetItemsFillsTheTableFromOneState) {
    writeFile(path("items.conf"),
              "[ssl]\nssl-enable-fips = yes\nport = 0x10\nlist = 1\nlist = 2\n");
    ZStanzaFileProperties_6_0 props;
    props.load(path("items.conf").c_str());
    ZLCString_6_0 fips, absent("untouched");
    ZUTF8String_6_0 port;
    int portNumber = 0, flag = 0, missingNumber = 0;
    ZArrayList_6_0 list(2, 1);
    ZStzFileItem_6_0 items[] = {
        {3, "ssl", "ssl-enable-fips", 0, &fips, 0},
        {ZSTZ_ITEM_LCSTRING, "ssl", "absent", 0, &absent, 0},
        {ZSTZ_ITEM_UTF8STRING, "ssl", "port", 0, &port, 0},
        {ZSTZ_ITEM_INTEGER, "ssl", "port", -1, &portNumber, 0},
        {ZSTZ_ITEM_INTEGER, "ssl", "absent", 42, &missingNumber, 0},
        {ZSTZ_ITEM_BOOLEAN, "ssl", "ssl-enable-fips", 0, &flag, 0},
        {ZSTZ_ITEM_UTF8STRING_LIST, "ssl", "list", 0, &list, 0},
    };
    props.getItems(items, sizeof items / sizeof items[0]);
    EXPECT_STREQ(fips.c_str(), "yes");
    EXPECT_EQ(items[0].found, 1u);
    EXPECT_STREQ(absent.c_str(), "untouched");
    EXPECT_EQ(items[1].found, 0u);
    EXPECT_STREQ(port.c_str(), "0x10");
    EXPECT_EQ(portNumber, 16);
    EXPECT_EQ(missingNumber, 42);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(items[6].found, 2u);

    // A bad item is refused before anything is filled.
    ZLCString_6_0 untouched("before");
    ZStzFileItem_6_0 bad[] = {
        {3, "ssl", "ssl-enable-fips", 0, &untouched, 0},
        {99, "ssl", "port", 0, &port, 0},
    };
    EXPECT_THROW(props.getItems(bad, 2), ZInvalidParameterException_6_0);
    EXPECT_STREQ(untouched.c_str(), "before");
}

TEST_F(StanzaFilePropertiesTest, GetStanzaListsOnePairPerValueInFileOrder) {
    writeFile(path("kv.conf"), "[s]\na = 1\nb =\na = 2\n[t]\nz = 9\n[s]\nc = 3\n");
    ZStanzaFileProperties_6_0 props;
    props.load(path("kv.conf").c_str());
    ZPropertiesKVList_6_0 kv;
    props.getStanza("s", kv);
    const char* expected[][2] = {{"a", "1"}, {"b", ""}, {"a", "2"}, {"c", "3"}};
    ASSERT_EQ(kv.getItemCount(), 4u);
    for (unsigned long i = 0; i < 4; ++i) {
        EXPECT_STREQ(kv.getItemKey(i), expected[i][0]);
        EXPECT_STREQ(kv.getItemValue(i), expected[i][1]);
    }
    EXPECT_EQ(kv.getItemKey(4), nullptr);
    props.getStanza("absent", kv);
    EXPECT_EQ(kv.getItemCount(), 0u);
}

TEST_F(StanzaFilePropertiesTest, ObserversHearEveryLoadUntilRemoved) {
    struct Recorder : ZObserver_6_0 {
        void update(ZAbstractObservable_6_0&, void* arg) override {
            files.push_back(static_cast<const char*>(arg));
        }
        std::vector<std::string> files;
    } recorder;
    writeFile(path("obs.conf"), "[a]\n");
    ZStanzaFileProperties_6_0 props;
    props.addObserver(recorder);
    props.addObserver(recorder);
    EXPECT_EQ(props.countObservers(), 1);
    props.load(path("obs.conf").c_str());
    props.reload();
    EXPECT_THROW(props.load(path("absent.conf").c_str()), ZException_6_0);
    props.deleteObserver(recorder);
    props.load(path("obs.conf").c_str());
    EXPECT_EQ(recorder.files, (std::vector<std::string>{path("obs.conf"), path("obs.conf")}));
}

// ---- store ------------------------------------------------------------------------------

TEST_F(StanzaFilePropertiesTest, StoreKeepsPermissionBitsAndFollowsLinks) {
    writeFile(path("p.conf"), "[a]\nk = v\n");
    chmod(path("p.conf").c_str(), 0640);
    ZStanzaFileProperties_6_0 props;
    props.load(path("p.conf").c_str());
    props.setValue("a", "k", "w");
    props.store();
    struct stat st;
    ASSERT_EQ(stat(path("p.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    mode_t mode = 0600;
    props.setAttributes(ZPROPERTIES_ATTR_NEW_FILE_MODE, &mode);
    props.store(path("new.conf").c_str());
    ASSERT_EQ(stat(path("new.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    ASSERT_EQ(symlink("p.conf", path("link.conf").c_str()), 0);
    props.setValue("a", "k", "through-link");
    props.store(path("link.conf").c_str());
    struct stat lst;
    ASSERT_EQ(lstat(path("link.conf").c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(readFile(path("p.conf")), "[a]\nk = through-link\n");
    // Nothing but the files themselves is left in the directory.
    auto names = dirEntries(dir_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"link.conf", "new.conf", "p.conf"}));
}

TEST_F(StanzaFilePropertiesTest, FailedStoreLeavesTheOriginalAndThrows) {
    const std::string original = "[a]\nk = original\n";
    writeFile(path("o.conf"), original);
    ZStanzaFileProperties_6_0 props;
    props.load(path("o.conf").c_str());
    props.setValue("a", "k", std::string(64 * 1024, 'x').c_str());

    // A file-size limit makes writing the temporary file fail, even for root.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int kind = 0;
    try {
        props.store();
    } catch (ZException_6_0& e) {
        kind = e.kind();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(kind, ZEXC_FILE_WRITE);
    EXPECT_EQ(readFile(path("o.conf")), original);
    EXPECT_EQ(dirEntries(dir_), (std::vector<std::string>{"o.conf"}));

    // A directory that is a plain file cannot take a file at all.
    try {
        props.store(path("o.conf/inner.conf").c_str());
        ADD_FAILURE() << "no exception";
    } catch (ZException_6_0& e) {
        EXPECT_EQ(e.kind(), ZEXC_FILE_WRITE);
        EXPECT_EQ(std::string(e.inserts()[0].text()), path("o.conf/inner.conf"));
    }
    EXPECT_EQ(readFile(path("o.conf")), original);
}

// A store writes the file in pieces as it serialises it: a large file with edits in it comes
// back byte for byte, and a write that fails in the middle of the file, after several pieces,
// leaves the original and no temporary file, and names the file and the system's reason.
TEST_F(StanzaFilePropertiesTest, LargeStoreRoundTripsAndFailsMidwayCleanly) {
    std::string original = "\xEF\xBB\xBF# big file\r\n";
    for (int st = 0; st < 800; ++st) {
        original += "[s" + std::to_string(st) + "]\n";
        for (int k = 0; k < 20; ++k)
            original += "key" + std::to_string(k) + " = value " + std::to_string(st * 20 + k) +
                        (k % 4 ? "\n" : "\r\n");
    }
    original += "[tail]\nlast = no line end";
    ASSERT_GT(original.size(), size_t{4} << 16);  // several of the store's pieces
    writeFile(path("big.conf"), original);
    ZStanzaFileProperties_6_0 props;
    props.load(path("big.conf").c_str());
    props.store();
    EXPECT_EQ(readFile(path("big.conf")), original);

    props.setValue("s150", "key3", "changed");
    props.addValue("tail", "extra", "one", 0);
    std::string expected = original;
    const std::string old = "key3 = value 3003\n";
    expected.replace(expected.find(old), old.size(), "key3 = changed\n");
    // The unterminated last line takes the file's first line ending; the new line goes after it.
    expected += "\r\nextra = one";

    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    struct rlimit small = limit;
    small.rlim_cur = original.size() / 2;
    sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::vector<std::string> inserts;
    int kind = 0;
    try {
        props.store();
    } catch (ZException_6_0& e) {
        kind = e.kind();
        for (const auto& insert : e.inserts()) inserts.push_back(insert.text());
    }
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(kind, ZEXC_FILE_WRITE);
    EXPECT_EQ(inserts, (std::vector<std::string>{path("big.conf"), std::strerror(EFBIG)}));
    EXPECT_EQ(readFile(path("big.conf")), original);
    EXPECT_EQ(dirEntries(dir_), (std::vector<std::string>{"big.conf"}));

    props.store();
    EXPECT_EQ(readFile(path("big.conf")), expected);
    EXPECT_EQ(dirEntries(dir_), (std::vector<std::string>{"big.conf"}));
}

// ---- files that are not regular files -----------------------------------------------------

// Devices would be read until memory runs out, and opening a FIFO waits for a writer: both
// are refused as read failures, by a load and by the registry.
TEST_F(StanzaFilePropertiesTest, RefusesWhatIsNotARegularFileWithoutReadingOrWaiting) {
    ASSERT_EQ(mkfifo(path("fifo.conf").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", path("zero.conf").c_str()), 0);
    ASSERT_EQ(symlink(path("fifo.conf").c_str(), path("fifo-link.conf").c_str()), 0);
    const std::string names[] = {"/dev/zero",       "/dev/urandom",    "/dev/null",
                                 path("zero.conf"), path("fifo.conf"), path("fifo-link.conf")};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        int rc = runInChild(20, [&] {
            capMemory(size_t{256} << 20);
            auto readFailure = [&](const std::function<void()>& load) {
                try {
                    load();
                    return 1;
                } catch (ZPropertiesInvalidDataException_6_0&) {
                    return 2;
                } catch (ZException_6_0& e) {
                    return e.kind() == ZEXC_FILE_READ && e.inserts().size() == 2 &&
                                   e.inserts()[0].text() == name
                               ? 0
                               : 3;
                } catch (std::bad_alloc&) {
                    return 4;
                }
            };
            ZStanzaFileProperties_6_0 props;
            if (int rc = readFailure([&] { props.load(name.c_str()); })) return rc;
            // Nothing is registered: the second request fails the same way.
            CountingFactory factory;
            for (int i = 0; i < 2; ++i)
                if (int rc = readFailure(
                        [&] { ZProperties_6_0::getPropertiesFor(name.c_str(), factory, 0); }))
                    return 10 + rc;
            return factory.made == 2 ? 0 : 20;
        });
        EXPECT_EQ(rc, 0) << "1000 + 14: the load hung; 98: an exception of another kind escaped";
    }
}

// ---- store: debris, modes, directory sync ------------------------------------------------

TEST_F(StanzaFilePropertiesTest, NewFilesGetTheModeOpenWouldGive) {
    writeFile(path("src.conf"), "[a]\nk = v\n");
    ZStanzaFileProperties_6_0 props;
    props.load(path("src.conf").c_str());
    struct Case {
        mode_t umask, expected;
    } cases[] = {{022, 0644}, {027, 0640}, {0, 0666}, {077, 0600}, {002, 0664}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.umask);
        const std::string name = path("new" + std::to_string(n++) + ".conf");
        mode_t old = umask(c.umask);
        props.store(name.c_str());
        umask(old);
        struct stat st;
        ASSERT_EQ(stat(name.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.expected);
        EXPECT_EQ(readFile(name), "[a]\nk = v\n");
    }
}

// Temporary files are named ".<file name>.tmp.<process id>.<six letters or digits>"; the
// store that writes one holds an open-file-description lock on it.
TEST_F(StanzaFilePropertiesTest, AStoreRemovesTheDebrisOfInterruptedStoresOnly) {
    writeFile(path("d.conf"), "[a]\nk = v\n");
    // Left by stores of d.conf that were killed: nobody holds a lock on them.
    writeFile(path(".d.conf.tmp.4194000.Ab3xYz"), "[a]\nk = half");
    writeFile(path(".d.conf.tmp.1.000000"), "");
    // A store of d.conf that is still being written: its writer holds the lock.
    writeFile(path(".d.conf.tmp.77.LiveOn"), "[a]\n");
    int live = open(path(".d.conf.tmp.77.LiveOn").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(live, 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(live, F_OFD_SETLK, &lock), 0);
    // Not debris of d.conf.
    writeFile(path(".other.conf.tmp.5.abcdef"), "x");
    writeFile(path(".d.conf.tmp.5.abc"), "x");
    writeFile(path(".d.conf.tmpABCDEF"), "x");
    ASSERT_EQ(mkfifo(path(".d.conf.tmp.6.fifo00").c_str(), 0600), 0);

    ZStanzaFileProperties_6_0 props;
    props.load(path("d.conf").c_str());
    props.setValue("a", "k", "w");
    props.store();
    close(live);
    EXPECT_EQ(readFile(path("d.conf")), "[a]\nk = w\n");
    auto names = dirEntries(dir_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".d.conf.tmp.5.abc", ".d.conf.tmp.6.fifo00",
                                               ".d.conf.tmp.77.LiveOn", ".d.conf.tmpABCDEF",
                                               ".other.conf.tmp.5.abcdef", "d.conf"}));
}

TEST_F(StanzaFilePropertiesTest, StoresKilledMidwayLeaveTheFileWholeAndNoDebris) {
    // Some megabytes, so that most of a store's time goes to writing them.
    std::string text = "[big]\n";
    for (int i = 0; i < 100000; ++i)
        text += "key" + std::to_string(i) + " = " + std::string(60, 'v') + "\n";
    writeFile(path("big.conf"), text);
    char* real = realpath(dir_.c_str(), nullptr);
    ASSERT_NE(real, nullptr);
    const std::string directory = real;
    free(real);
    ZStanzaFileProperties_6_0 props;
    props.load(path("big.conf").c_str());
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(ready[0]);
            try {
                props.setValue("big", "round", std::to_string(round).c_str());
                if (write(ready[1], "x", 1) != 1) _exit(2);
                for (;;) props.store();
            } catch (...) {
                _exit(1);
            }
        }
        close(ready[1]);
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
        // Kill it while it has a file of the directory open, i.e. while it writes one; give up
        // waiting for that after some seconds and kill it wherever it is.
        for (int polls = 0; polls < 50000 && !writesInto(pid, directory); ++polls) usleep(100);
        usleep(static_cast<useconds_t>(round * 500));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the storing child failed";
        // The file is the old text or a complete new one.
        ZStanzaFileProperties_6_0 check;
        check.load(path("big.conf").c_str());
        EXPECT_EQ(check.count("big"),
                  100000u + static_cast<unsigned long>(check.exists("big", "round")));
    }
    props.store();  // a later store of the same file clears what the killed ones left
    EXPECT_EQ(dirEntries(dir_), (std::vector<std::string>{"big.conf"}));
}

// Once the new file has been renamed into place the store has happened: a directory that
// cannot be opened for its sync costs a warning, not a failure.
TEST_F(StanzaFilePropertiesTest, StoreSucceedsWhenOnlyTheDirectorySyncFails) {
    const std::string locked = path("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
    const std::string file = locked + "/s.conf";
    writeFile(file, "[a]\nk = old\n");
    // A directory that may be written but not read cannot be opened for its sync. Root reads
    // every directory, so a run as root drops to an unprivileged user in the child.
    const bool root = geteuid() == 0;
    const uid_t nobody = 65534;
    if (root) {
        ASSERT_EQ(chown(locked.c_str(), nobody, nobody), 0);
        ASSERT_EQ(chown(file.c_str(), nobody, nobody), 0);
        ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);
    }
    ASSERT_EQ(chmod(locked.c_str(), 0300), 0);
    int rc = runInChild(20, [&] {
        if (root && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0))
            return 50;
        int probe = open(locked.c_str(), O_RDONLY | O_DIRECTORY);
        if (probe >= 0) return 51;  // the directory can be read after all: no test
        ovsvc::CaptureSink capture;
        ZStanzaFileProperties_6_0 props;
        props.load(file.c_str());
        props.setValue("a", "k", "new");
        try {
            props.store();
        } catch (ZException_6_0&) {
            return 1;
        }
        if (readFile(file) != "[a]\nk = new\n") return 2;
        auto warnings = capture.withMsgid(0x35E51037);
        if (warnings.size() != 1 || warnings[0].attributes != 48) return 3;
        return 0;
    });
    EXPECT_EQ(rc, 0) << "1: the store threw; 2: the file was not replaced; 3: no single warning";
}

// ---- registry ---------------------------------------------------------------------------

TEST_F(StanzaFilePropertiesTest, RegistryKeepsOneLoadedObjectPerFile) {
    writeFile(path("reg.conf"), "[a]\nk = 1\n");
    writeFile(path("reg2.conf"), "[a]\nk = 2\n");
    CountingFactory factory;
    ZProperties_6_0* first =
        ZProperties_6_0::getPropertiesFor(path("reg.conf").c_str(), factory, 0);
    ZProperties_6_0* again =
        ZProperties_6_0::getPropertiesFor(path("reg.conf").c_str(), factory, 0);
    ZProperties_6_0* other =
        ZProperties_6_0::getPropertiesFor(path("reg2.conf").c_str(), factory, 0);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    EXPECT_EQ(factory.made, 2);
    auto* counted = dynamic_cast<CountingProperties*>(first);
    ASSERT_NE(counted, nullptr);
    EXPECT_EQ(counted->postLoads, 1);
    EXPECT_EQ(counted->lastFile, path("reg.conf"));
    EXPECT_EQ(first->getIntegerValue("a", "k", 0, 0), 1);
    EXPECT_EQ(other->getIntegerValue("a", "k", 0, 0), 2);

    writeFile(path("reg.conf"), "[a]\nk = 3\n");
    EXPECT_EQ(
        ZProperties_6_0::getPropertiesFor(path("reg.conf").c_str(), factory, ZPROPERTIES_RELOAD),
        first);
    EXPECT_EQ(counted->postLoads, 2);
    EXPECT_EQ(first->getIntegerValue("a", "k", 0, 0), 3);
    EXPECT_EQ(factory.made, 2);
}

// Every spelling of one file's name gives the one object of that file, and the object keeps
// the absolute name it was first asked for, whatever the working directory is later.
TEST_F(StanzaFilePropertiesTest, RegistryKnowsAFileByItsAbsolutePath) {
    ASSERT_EQ(mkdir(path("sub").c_str(), 0700), 0);
    writeFile(path("sub/x.conf"), "[a]\nk = 1\n");
    ASSERT_EQ(symlink("sub/x.conf", path("link.conf").c_str()), 0);
    ASSERT_EQ(symlink("sub", path("subdir-link").c_str()), 0);
    char* real = realpath(path("sub/x.conf").c_str(), nullptr);
    ASSERT_NE(real, nullptr);
    const std::string absolute = real;
    free(real);

    CwdGuard restore;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    CountingFactory factory;
    ZProperties_6_0* first = ZProperties_6_0::getPropertiesFor("sub/x.conf", factory, 0);
    const std::string spellings[] = {
        "./sub/x.conf",     "sub//x.conf", "sub/./x.conf", path("sub/../sub/x.conf"),
        path("sub/x.conf"), absolute,      "link.conf",    "subdir-link/x.conf",
    };
    for (const std::string& name : spellings) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ZProperties_6_0::getPropertiesFor(name.c_str(), factory, 0), first);
    }
    EXPECT_EQ(factory.made, 1);
    auto* counted = dynamic_cast<CountingProperties*>(first);
    ASSERT_NE(counted, nullptr);
    EXPECT_EQ(counted->postLoads, 1);
    EXPECT_EQ(counted->lastFile[0], '/');

    // Elsewhere, a relative name means another file; the registered one still reloads and
    // stores its own file.
    ASSERT_EQ(chdir(path("sub").c_str()), 0);
    EXPECT_EQ(ZProperties_6_0::getPropertiesFor("x.conf", factory, 0), first);
    writeFile(path("sub/x.conf"), "[a]\nk = 2\n");
    EXPECT_EQ(ZProperties_6_0::getPropertiesFor("../link.conf", factory, ZPROPERTIES_RELOAD),
              first);
    EXPECT_EQ(first->getIntegerValue("a", "k", 0, 0), 2);
    EXPECT_EQ(counted->postLoads, 2);
    ASSERT_EQ(chdir("/"), 0);
    first->setValue("a", "k", "3");
    first->store();
    EXPECT_EQ(readFile(path("sub/x.conf")), "[a]\nk = 3\n");
    EXPECT_EQ(factory.made, 1);
}

TEST_F(StanzaFilePropertiesTest, RegistryRetriesAfterAFailedLoad) {
    CountingFactory factory;
    const std::string name = path("later.conf");
    try {
        ZProperties_6_0::getPropertiesFor(name.c_str(), factory, 0);
        ADD_FAILURE() << "no exception";
    } catch (ZPropertiesInvalidDataException_6_0&) {
        ADD_FAILURE() << "a missing file is no invalid data";
    } catch (ZException_6_0& e) {
        EXPECT_EQ(e.kind(), ZEXC_FILE_READ);
    }
    writeFile(name, "not a stanza file\n");
    EXPECT_THROW(ZProperties_6_0::getPropertiesFor(name.c_str(), factory, 0),
                 ZPropertiesInvalidDataException_6_0);
    writeFile(name, "[a]\nk = ok\n");
    ZProperties_6_0* p = ZProperties_6_0::getPropertiesFor(name.c_str(), factory, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(factory.made, 3);
    EXPECT_EQ(dynamic_cast<CountingProperties*>(p)->postLoads, 1);
    ZUTF8String_6_0 v;
    p->getValue("a", "k", v);
    EXPECT_STREQ(v.c_str(), "ok");
}

TEST_F(StanzaFilePropertiesTest, ConcurrentFirstRequestsMakeOneObject) {
    writeFile(path("race.conf"), "[a]\nk = v\n");
    CountingFactory factory;
    const std::string name = path("race.conf");
    constexpr int kThreads = 8;
    std::vector<ZProperties_6_0*> got(kThreads, nullptr);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            while (!go) std::this_thread::yield();
            got[i] = ZProperties_6_0::getPropertiesFor(name.c_str(), factory, 0);
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(factory.made, 1);
    for (ZProperties_6_0* p : got) EXPECT_EQ(p, got[0]);
    EXPECT_EQ(dynamic_cast<CountingProperties*>(got[0])->postLoads, 1);
}

// A post-load hook that reads, changes and stores its object, as an upgrade does.
class UpgradingProperties : public ZStanzaFileProperties_6_0 {
public:
    void postLoad(const char* fileName) override {
        if (getIntegerValue("meta-info", "version", 0, 0) >= 0x610) return;
        setIntegerValue("meta-info", "version", 0x610);
        store(fileName);
    }
};

TEST_F(StanzaFilePropertiesTest, PostLoadMayChangeAndStoreTheObject) {
    writeFile(path("up.conf"), "[a]\nk = v\n");
    UpgradingProperties props;
    props.load(path("up.conf").c_str());
    EXPECT_EQ(readFile(path("up.conf")), "[a]\nk = v\n\n[meta-info]\nversion = 1552\n");
    struct stat before, after;
    stat(path("up.conf").c_str(), &before);
    props.load(path("up.conf").c_str());  // already upgraded: not written again
    stat(path("up.conf").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(StanzaFilePropertiesTest, OneObjectIsSafeForConcurrentReadersAndWriters) {
    writeFile(path("mt.conf"), "[s]\nk = 0\n");
    ZStanzaFileProperties_6_0 props;
    props.load(path("mt.conf").c_str());
    std::vector<std::thread> threads;
    std::atomic<int> badReads{0};
    for (int w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < 300; ++i) {
                std::string key = "w" + std::to_string(w) + "_" + std::to_string(i % 20);
                props.setValue("s", key.c_str(), std::to_string(i).c_str());
                props.addValue("multi", key.c_str(), "x", 0);
                if (i % 7 == 0) props.deleteKey("multi", key.c_str());
            }
        });
    }
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                ZUTF8String_6_0 v;
                props.getValue("s", "k", v);
                if (!v.equals("0")) ++badReads;
                ZPropertiesKVList_6_0 kv;
                props.getStanza("s", kv);
                ZArrayList_6_0 names(4, 1);
                props.keyNames("multi", names);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(badReads, 0);
    EXPECT_EQ(props.count("s"), 41u);
    props.store(path("mt-out.conf").c_str());
    ZStanzaFileProperties_6_0 again;
    again.load(path("mt-out.conf").c_str());
    EXPECT_EQ(again.count("s"), 41u);
    EXPECT_EQ(again.getIntegerValue("s", "w1_19", 0, 0), 299);
}

}  // namespace
