// The edit hold of a stanza file between processes: edits made side by side by several
// processes all survive, a hold that is not free in time is an error naming the file, and what
// cannot be held is refused without waiting on it.
#include <ovutil/OVStanzaFileProperties.h>

#include <gtest/gtest.h>

#include "harness/temp_dir.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <ovz/collections.h>
#include <ovz/exceptions.h>
#include <ovz/strings.h>

namespace {

using ovtest::TempDir;

// The values of s/k in the file as stored on disk.
std::vector<std::string> storedValues(const std::string& file) {
    ZStanzaFileProperties_6_0 props(1);
    props.load(file.c_str());
    ZArrayList_6_0 list(4, 1);
    props.getValues("s", "k", list, ZPROPERTY_STRING_UTF8);
    std::vector<std::string> out;
    for (unsigned long i = 0; i < list.size(); ++i) {
        const char* chars = static_cast<ZUTF8String_6_0*>(list.get(i))->getChars();
        out.emplace_back(chars ? chars : "");
    }
    return out;
}

// Runs `body(child)` in `children` forked processes at once; returns how many exited 0.
int inChildren(int children, const std::function<void(int)>& body) {
    std::vector<pid_t> pids;
    for (int c = 0; c < children; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            int code = 0;
            try {
                body(c);
            } catch (ZException_6_0& e) {
                std::fprintf(stderr, "child %d: %s\n", c, e.text());
                code = 1;
            } catch (...) {
                code = 2;
            }
            _exit(code);
        }
        pids.push_back(pid);
    }
    int ok = 0;
    for (pid_t pid : pids) {
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) ++ok;
    }
    return ok;
}

// Each edit reads the file, adds a value and stores the file by renaming a new one over it, so
// a hold that waited on a replaced file must take the new one, or edits are lost.
TEST(OVStanzaFileEditLock, EditsOfSeveralProcessesAllSurvive) {
    TempDir dir;
    struct Case {
        const char* what;
        std::function<void(const std::string& file, const std::string& value)> edit;
    } cases[] = {
        {"plain objects under the hold",
         [](const std::string& file, const std::string& value) {
             OVStanzaFileEditLock hold(file.c_str());
             ZStanzaFileProperties_6_0 props(1);
             props.load(file.c_str());
             props.addValue("s", "k", value.c_str(), 0);
             props.store(file.c_str());
         }},
        {"the registry's object",
         [](const std::string& file, const std::string& value) {
             EXPECT_EQ(OVStanzaFileProperties::editRegisteredPropertiesFor(
                           file.c_str(),
                           [&](ZStanzaFileProperties_6_0& props) {
                               props.addValue("s", "k", value.c_str(), 0);
                               return true;
                           }),
                       1);
         }},
    };
    const int processes = 4, edits = 15;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A current version, so that loading through the registry does not upgrade the file.
        const std::string file = dir.file(std::string(c.what).substr(0, 5) + ".conf",
                                          "[meta-info]\nversion = 1552\n[s]\nk = first\n");
        int ok = inChildren(processes, [&](int child) {
            for (int i = 0; i < edits; ++i)
                c.edit(file, "v" + std::to_string(child) + "-" + std::to_string(i));
        });
        EXPECT_EQ(ok, processes);
        std::vector<std::string> values = storedValues(file);
        EXPECT_EQ(values.size(), 1u + processes * edits);
    }
}

// A file that is still to be created is held through its directory: creators that race all
// keep their keys, and the first store creates the file with the umask's mode.
TEST(OVStanzaFileEditLock, CreatorsOfANewFileAllSurvive) {
    TempDir dir;
    const std::string file = dir.path() + "/new.conf";
    const int processes = 6;
    int ok = inChildren(processes, [&](int child) {
        OVStanzaFileEditLock hold(file.c_str(), OVStanzaFileEditLock::kDefaultTimeoutMs,
                                  OVStanzaFileEditLock::kMayCreate);
        ZStanzaFileProperties_6_0 props(1);
        if (hold.fileExisted()) props.load(file.c_str());
        props.addValue("s", "k", ("v" + std::to_string(child)).c_str(), 0);
        props.store(file.c_str());
    });
    EXPECT_EQ(ok, processes);
    EXPECT_EQ(storedValues(file).size(), static_cast<size_t>(processes));
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
    // Nothing but the file is left in the directory.
    EXPECT_EQ(std::system(("test \"$(ls -A '" + dir.path() + "')\" = new.conf").c_str()), 0);
}

TEST(OVStanzaFileEditLock, AHoldThatIsNotFreeInTimeNamesTheFile) {
    TempDir dir;
    const std::string file = dir.file("busy.conf", "[s]\nk = v\n");
    auto hold = std::make_unique<OVStanzaFileEditLock>(file.c_str());
    std::string text;
    int kind = 0;
    // A second hold, even in the same thread, is another holder, as another process would be.
    try {
        OVStanzaFileEditLock second(file.c_str(), 50);
    } catch (ZException_6_0& e) {
        text = e.text();
        kind = e.kind();
    }
    EXPECT_EQ(kind, ZEXC_LOCK_FAILURE);
    EXPECT_NE(text.find(file), std::string::npos) << text;
    EXPECT_NE(text.find("50 ms"), std::string::npos) << text;
    // Once released it is free at once.
    hold.reset();
    EXPECT_NO_THROW(OVStanzaFileEditLock(file.c_str(), 50));
}

// What cannot be held is refused at once, with the file and the reason; nothing is created.
TEST(OVStanzaFileEditLock, RefusesWhatCannotBeHeld) {
    TempDir dir;
    const std::string fifo = dir.path() + "/fifo.conf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string missing = dir.path() + "/missing.conf";
    const std::string noDir = dir.path() + "/no/such/dir/new.conf";
    struct Case {
        std::string file;
        int flags;
        int kind;
        const char* reason;
    } cases[] = {
        {missing, 0, ZEXC_FILE_READ, "No such file or directory"},
        {fifo, 0, ZEXC_FILE_READ, "not a regular file"},
        {fifo, OVStanzaFileEditLock::kMayCreate, ZEXC_FILE_READ, "not a regular file"},
        {noDir, OVStanzaFileEditLock::kMayCreate, ZEXC_FILE_READ, "no/such/dir"},
        {dir.path(), 0, ZEXC_FILE_READ, "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " flags " + std::to_string(c.flags));
        try {
            OVStanzaFileEditLock hold(c.file.c_str(), 1000, c.flags);
            ADD_FAILURE() << "held";
        } catch (ZException_6_0& e) {
            EXPECT_EQ(e.kind(), c.kind);
            std::string text = e.text();
            EXPECT_NE(text.find(c.file), std::string::npos) << text;
            EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        }
    }
    struct stat st;
    EXPECT_NE(stat(missing.c_str(), &st), 0);
    EXPECT_THROW(OVStanzaFileEditLock(nullptr), ZInvalidParameterException_6_0);
    EXPECT_THROW(OVStanzaFileEditLock(""), ZInvalidParameterException_6_0);
}

// editRegisteredPropertiesFor stores only when the edit says it changed something, and sees
// what another process stored since the registry's object was loaded.
TEST(OVStanzaFileEditLock, RegisteredEditReloadsAndStoresOnlyChanges) {
    TempDir dir;
    const std::string file = dir.file("reg.conf", "[meta-info]\nversion = 1552\n[s]\nk = a\n");
    ZStanzaFileProperties_6_0* props =
        OVStanzaFileProperties::getRegisteredPropertiesFor(file.c_str(), 0);
    ASSERT_NE(props, nullptr);
    // Another process edits the file after this one loaded it.
    ASSERT_EQ(inChildren(1,
                         [&](int) {
                             OVStanzaFileEditLock hold(file.c_str());
                             ZStanzaFileProperties_6_0 other(1);
                             other.load(file.c_str());
                             other.addValue("s", "k", "from-child", 0);
                             other.store(file.c_str());
                         }),
              1);
    struct stat before, after;
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    EXPECT_EQ(OVStanzaFileProperties::editRegisteredPropertiesFor(
                  file.c_str(), [](ZStanzaFileProperties_6_0&) { return false; }),
              0);
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "an edit that changed nothing stored the file";
    EXPECT_EQ(OVStanzaFileProperties::editRegisteredPropertiesFor(file.c_str(),
                                                                  [](ZStanzaFileProperties_6_0& p) {
                                                                      p.addValue("s", "k",
                                                                                 "from-parent", 0);
                                                                      return true;
                                                                  }),
              1);
    EXPECT_EQ(storedValues(file), (std::vector<std::string>{"a", "from-child", "from-parent"}));
}

// A file of an earlier release, upgraded by loads of other processes while edits go on under
// the hold: the upgrade reloads and stores under the hold, so every edit survives, and so
// does the upgrade. With the plain load and with the registry's edit (whose load upgrades in
// memory and whose one store writes both), rounds of processes that start together.
TEST(OVStanzaFileEditLock, UpgradesOnLoadKeepEveryEditStoredMeanwhile) {
    TempDir dir;
    struct Case {
        const char* what;
        std::function<void(const std::string& file)> other;  // what the other processes do
    } cases[] = {
        {"plain load",
         [](const std::string& file) {
             OVStanzaFileProperties props;
             props.load(file.c_str());
         }},
        {"registry edit",
         [](const std::string& file) {
             OVStanzaFileProperties::editRegisteredPropertiesFor(
                 file.c_str(), [](ZStanzaFileProperties_6_0&) { return false; });
         }},
    };
    const int rounds = 8, editors = 3, upgraders = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir.path() + "/" + std::string(c.what).substr(0, 5) + ".conf";
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            {
                std::ofstream(file, std::ios::trunc) << "[s]\nk = first\n";  // no version: old
            }
            int ok = inChildren(editors + upgraders, [&](int child) {
                if (child >= editors) {
                    c.other(file);
                    return;
                }
                const std::string value = "v" + std::to_string(child);
                EXPECT_EQ(OVStanzaFileProperties::editRegisteredPropertiesFor(
                              file.c_str(),
                              [&](ZStanzaFileProperties_6_0& props) {
                                  props.addValue("s", "k", value.c_str(), 0);
                                  return true;
                              }),
                          1);
            });
            EXPECT_EQ(ok, editors + upgraders);
            std::vector<std::string> values = storedValues(file);
            EXPECT_EQ(values.size(), 1u + editors) << "an edit was lost";
            ZStanzaFileProperties_6_0 stored(1);
            stored.load(file.c_str());
            EXPECT_EQ(stored.getIntegerValue("meta-info", "version", 0, 0), 0x610);
        }
    }
}

// The upgrade of a load that meets an old file while another process holds the file waits for
// the hold, and upgrades what that holder stored: the holder's edit, made on what it loaded
// before, is kept, and so is the upgrade.
TEST(OVStanzaFileEditLock, AnUpgradeWaitsForTheHolderAndKeepsItsEdit) {
    TempDir dir;
    const std::string file = dir.file("held.conf", "[s]\nk = first\n");
    auto hold = std::make_unique<OVStanzaFileEditLock>(file.c_str());
    ZStanzaFileProperties_6_0 editor(1);
    editor.load(hold->path());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        close(ready[0]);
        (void)!write(ready[1], "x", 1);
        OVStanzaFileProperties props;
        props.load(file.c_str());  // upgrades: waits for the parent's hold
        _exit(props.getIntegerValue("meta-info", "version", 0, 0) == 0x610 ? 0 : 3);
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    usleep(300 * 1000);  // the child loads, and waits for the hold
    editor.addValue("s", "k", "held-edit", 0);
    editor.store(hold->path());
    hold.reset();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(storedValues(file), (std::vector<std::string>{"first", "held-edit"}));
    ZStanzaFileProperties_6_0 stored(1);
    stored.load(file.c_str());
    EXPECT_EQ(stored.getIntegerValue("meta-info", "version", 0, 0), 0x610);
}

// A thread that holds the file upgrades it without waiting for itself (ovutil cfg migrate),
// and inside the registry's edit the upgrade and the edit are stored once, together.
TEST(OVStanzaFileEditLock, AHolderUpgradesWithoutWaitingForItself) {
    TempDir dir;
    const std::string held = dir.file("mine.conf", "[s]\nk = first\n");
    {
        OVStanzaFileEditLock hold(held.c_str(), 2000);
        OVStanzaFileProperties props;
        auto start = std::chrono::steady_clock::now();
        props.load(held.c_str());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    }
    ZStanzaFileProperties_6_0 stored(1);
    stored.load(held.c_str());
    EXPECT_EQ(stored.getIntegerValue("meta-info", "version", 0, 0), 0x610);

    // The registry's object of a file that an earlier release's installer then put back: the
    // edit's load upgrades it in memory, and the edit stores it even when it changes nothing.
    const std::string edited = dir.file("edited.conf", "[meta-info]\nversion = 1552\n[s]\nk = a\n");
    ASSERT_NE(OVStanzaFileProperties::getRegisteredPropertiesFor(edited.c_str(), 0), nullptr);
    { std::ofstream(edited, std::ios::trunc) << "[s]\nk = old\n"; }
    EXPECT_EQ(OVStanzaFileProperties::editRegisteredPropertiesFor(
                  edited.c_str(), [](ZStanzaFileProperties_6_0&) { return false; }, 2000),
              1);
    ZStanzaFileProperties_6_0 upgraded(1);
    upgraded.load(edited.c_str());
    EXPECT_EQ(storedValues(edited), std::vector<std::string>{"old"});
    EXPECT_EQ(upgraded.getIntegerValue("meta-info", "version", 0, 0), 0x610);
}

// One resolution of a symbolic link per edit: a link switched to another file while the edit
// holds the first one does not get the first file's content; the edit goes to the file held.
TEST(OVStanzaFileEditLock, ASwitchedLinkDoesNotTakeTheHeldFilesContent) {
    TempDir dir;
    const std::string v1 = dir.file("v1.conf", "[meta-info]\nversion = 1552\n[s]\nk = one\n");
    const std::string v2 = dir.file("v2.conf", "[meta-info]\nversion = 1552\n[s]\nk = two\n");
    const std::string link = dir.path() + "/current.conf";
    ASSERT_EQ(symlink("v1.conf", link.c_str()), 0);
    EXPECT_EQ(OVStanzaFileProperties::editRegisteredPropertiesFor(
                  link.c_str(),
                  [&](ZStanzaFileProperties_6_0& props) {
                      // Switched while the edit holds v1 (as ln -sfn would).
                      const std::string next = dir.path() + "/next.lnk";
                      EXPECT_EQ(symlink("v2.conf", next.c_str()), 0);
                      EXPECT_EQ(rename(next.c_str(), link.c_str()), 0);
                      props.addValue("s", "k", "edit", 0);
                      return true;
                  }),
              1);
    EXPECT_EQ(storedValues(v1), (std::vector<std::string>{"one", "edit"}));
    EXPECT_EQ(storedValues(v2), (std::vector<std::string>{"two"}));
    // The hold names what it resolved.
    OVStanzaFileEditLock hold(link.c_str());
    char* real = realpath(v2.c_str(), nullptr);
    ASSERT_NE(real, nullptr);
    EXPECT_STREQ(hold.path(), real);
    free(real);
}

// Waiting longer than a second tells the caller who holds the file, and the timeout names
// that process too.
TEST(OVStanzaFileEditLock, AWaitNamesTheProcessThatHoldsTheFile) {
    TempDir dir;
    const std::string file = dir.file("waited.conf", "[s]\nk = v\n");
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        close(ready[0]);
        close(done[1]);
        {
            OVStanzaFileEditLock hold(file.c_str());
            (void)!write(ready[1], "x", 1);
            char c;
            (void)!read(done[0], &c, 1);
        }
        _exit(0);
    }
    close(ready[1]);
    close(done[0]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    std::vector<long> told;
    std::string text;
    try {
        OVStanzaFileEditLock hold(file.c_str(), 1300, 0,
                                  [&](long holder) { told.push_back(holder); });
        ADD_FAILURE() << "held";
    } catch (ZException_6_0& e) {
        text = e.text();
    }
    close(done[1]);
    close(ready[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(told, std::vector<long>{child});
    EXPECT_NE(text.find("held by process " + std::to_string(child)), std::string::npos) << text;
}

// A dangling symbolic link is refused with what is wrong, even where the file may be created.
TEST(OVStanzaFileEditLock, ADanglingLinkNamesItsMissingTarget) {
    TempDir dir;
    const std::string link = dir.path() + "/dangling.conf";
    ASSERT_EQ(symlink("gone.conf", link.c_str()), 0);
    for (int flags : {0, int{OVStanzaFileEditLock::kMayCreate}}) {
        SCOPED_TRACE(flags);
        try {
            OVStanzaFileEditLock hold(link.c_str(), 100, flags);
            ADD_FAILURE() << "held";
        } catch (ZException_6_0& e) {
            EXPECT_EQ(e.kind(), ZEXC_FILE_READ);
            EXPECT_NE(
                std::string(e.text()).find("symbolic link to gone.conf, which does not exist"),
                std::string::npos)
                << e.text();
        }
    }
}

}  // namespace
