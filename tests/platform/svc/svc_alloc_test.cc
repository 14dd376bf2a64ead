// Serviceability and message look-ups when memory runs out: no call throws, a numbered record
// is still written (once, without its inserts), and the out-of-memory message above all is
// never lost for want of memory.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness/failing_alloc.h"
#include "ovmsg/msg.h"
#include "ovsvc/capture.h"
#include "ovsvc/svc.h"
#include "svc_test_util.h"

namespace {

// The catalogs only: the routes stay as a process starts, so that the first record of a
// fresh process finds them unmade.
class CatalogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { setenv("NLSPATH", svc_test::TestNlspath().c_str(), 1); }
};
[[maybe_unused]] auto* const kEnv = ::testing::AddGlobalTestEnvironment(new CatalogEnvironment);

constexpr unsigned kOutOfMemory = 0x10652065;
constexpr char kOutOfMemoryText[] = "Out of memory: a memory allocation failed.";
// A library message with inserts: "The configuration file %s could not be loaded (reason
// code %d)."
constexpr unsigned kLoadFailed = 0x1354A09A;

// What the capture sink got: copied with allocations allowed, whatever the test makes fail.
struct Captured {
    unsigned msgid;
    unsigned severity;
    std::string text;
    std::string file;
    int line;
    unsigned insertCount;
};

class Capture {
public:
    Capture() { ov_svc_set_capture(&Capture::receive, this); }
    ~Capture() { ov_svc_set_capture(nullptr, nullptr); }
    std::vector<Captured> take() {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<Captured> out;
        out.swap(records_);
        return out;
    }

private:
    static void receive(void* context, const ov_svc_record_t* r) {
        ovtest::AllowAllocations allow;
        auto* self = static_cast<Capture*>(context);
        std::lock_guard<std::mutex> guard(self->mutex_);
        self->records_.push_back(
            {r->msgid, r->severity, r->text, r->file, r->line, r->insert_count});
    }
    std::mutex mutex_;
    std::vector<Captured> records_;
};

// Records go nowhere but to the capture sink (and where a test routes them).
class SvcAllocTest : public testing::Test {
protected:
    void SetUp() override {
        if (!ovtest::canFailAllocations())
            GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
        svc_test::QuietEnvironment().SetUp();
    }
};

// Fails each allocation of the record in turn, and all after it. Every time the record is
// written exactly once, to the sink and to its route, with its text.
TEST_F(SvcAllocTest, OutOfMemoryRecordIsWrittenOnceWhateverAllocationFails) {
    char path[] = "/tmp/ovsvc_alloc_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(ov_svc_route(OV_SVC_FATAL, (std::string("FILE:") + path).c_str()), 0);
    Capture capture;
    const std::string expected =
        std::string("FATAL bas.general 0x10652065 src/alloc:12 ") + kOutOfMemoryText + "\n";
    size_t lines = 0;
    for (long after = 0;; ++after) {
        SCOPED_TRACE("allocations fail from number " + std::to_string(after));
        int rc;
        long attempts;
        errno = EDOM;
        {
            ovtest::FailingAllocations fail(after);
            rc = ov_svc_printf_withfile(bas_svc_handle, "src/alloc", 12, "", 0, OV_SVC_FATAL,
                                        kOutOfMemory);
            attempts = fail.attempts();
        }
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(errno, EDOM);
        std::vector<Captured> records = capture.take();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].msgid, kOutOfMemory);
        EXPECT_EQ(records[0].severity, OV_SVC_FATAL);
        EXPECT_EQ(records[0].text, kOutOfMemoryText);
        EXPECT_EQ(records[0].file, "src/alloc");
        EXPECT_EQ(records[0].line, 12);
        const std::string written = svc_test::ReadFile(path);
        size_t count = 0;
        for (size_t at = 0; (at = written.find('\n', at)) != std::string::npos; ++at) ++count;
        ASSERT_EQ(count, ++lines) << written;
        const size_t last = written.rfind('\n', written.size() - 2);
        const std::string line = written.substr(last == std::string::npos ? 0 : last + 1);
        ASSERT_GE(line.size(), expected.size()) << line;
        EXPECT_EQ(line.substr(line.size() - expected.size()), expected);
        if (attempts <= after) break;
    }
    EXPECT_GT(lines, 1u) << "no allocation of the record was made to fail";
    ov_svc_route(OV_SVC_FATAL, "DISCARD");
    unlink(path);
}

// A record built without memory leaves its inserts out: its text is the default message when
// that takes no inserts, else the number.
TEST_F(SvcAllocTest, RecordWithoutMemoryLeavesTheInsertsOut) {
    const struct {
        const char* what;
        unsigned msgid;
        const char* format;
        const char* text;
    } cases[] = {
        {"no inserts", kOutOfMemory, "", kOutOfMemoryText},
        {"inserts", kLoadFailed, "%s%d", "message 0x1354a09a"},
        {"no text anywhere", 0x7E57AFFF, "%s%d", "message 0x7e57afff"},
    };
    Capture capture;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int rc;
        {
            ovtest::FailingAllocations fail;
            rc = ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, "src/alloc", 7,
                                           c.format, 1, OV_SVC_ERROR, c.msgid, "/etc/x.conf", 3);
        }
        EXPECT_EQ(rc, 0);
        std::vector<Captured> records = capture.take();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].msgid, c.msgid);
        EXPECT_EQ(records[0].text, c.text);
        EXPECT_EQ(records[0].insertCount, 0u);
    }
}

// A caller's own handle, with a debug setting for it in the environment.
struct OwnHandle {
    ov_svc_subcomp_t table[2] = {{"general", "", 0}, {"work", "", 0}};
    dce_svc_handle_s_t record = {"myalloc", table, 2, 0};
};

// Each call under failing allocations: no exception, the documented result, and the call
// works again once memory is back.
TEST_F(SvcAllocTest, CallsWithoutMemoryNeverThrow) {
    setenv("OV_SVC_DEBUG", "myalloc:work=7", 1);
    OwnHandle own;
    Capture capture;
    struct Step {
        const char* what;
        int (*call)(OwnHandle&);
        int withoutMemory;
        int withMemory;
    };
    const Step steps[] = {
        {"debug level from the environment",
         [](OwnHandle& h) { return static_cast<int>(ov_svc__debug_fillin2(&h.record, 1)); }, 0, 7},
        {"a debug line is dropped",
         [](OwnHandle& h) {
             ov_svc__debug_withfile(&h.record, "src/alloc", 3, 1, 5, "debug %s", "line");
             return 0;
         },
         0, 0},
        {"a program name longer than a string holds by itself",
         [](OwnHandle&) {
             unsigned status = 0;
             ov_svc_set_progname("a-program-with-a-long-name", &status);
             return static_cast<int>(status);
         },
         static_cast<int>(OV_SVC_S_NO_MEMORY), static_cast<int>(OV_SVC_S_OK)},
        {"a file route",
         [](OwnHandle&) { return ov_svc_route(OV_SVC_NOTICE, "FILE:/dev/./././././././null"); }, -1,
         0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        int result = 0;
        bool threw = false;
        capture.take();
        {
            ovtest::FailingAllocations fail;
            try {
                result = s.call(own);
            } catch (...) {
                threw = true;
            }
        }
        EXPECT_FALSE(threw);
        EXPECT_EQ(result, s.withoutMemory);
        EXPECT_TRUE(capture.take().empty());
        EXPECT_EQ(s.call(own), s.withMemory);
    }
    // The debug line goes through once the handle is filled in.
    ov_svc__debug_withfile(&own.record, "src/alloc", 3, 1, 5, "debug %s", "line");
    std::vector<Captured> records = capture.take();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, "debug line");
    ov_svc_route(OV_SVC_NOTICE, "DISCARD");
    unsetenv("OV_SVC_DEBUG");
}

// The first record of a process, with no memory at all: the state behind the program name and
// the routes cannot be made either, and the record still reaches standard error.
TEST(SvcAllocFreshProcess, FirstRecordIsWrittenWithoutAnyMemory) {
    if (!ovtest::canFailAllocations())
        GTEST_SKIP() << "the sanitizer's allocator cannot be told to fail";
    int rc = svc_test::RunInFreshProcess([] {
        char path[] = "/tmp/ovsvc_alloc_err_XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) return 10;
        int result;
        {
            ovtest::FailingAllocations fail;
            result = ov_svc_printf_withfile(bas_svc_handle, "src/alloc", 9, "", 0, OV_SVC_FATAL,
                                            kOutOfMemory);
        }
        const std::string err = svc_test::ReadFile(path);
        unlink(path);
        if (result != 0) return 11;
        const std::string expected = std::string("[") + std::to_string(getpid()) +
                                     "] FATAL bas.general 0x10652065 src/alloc:9 " +
                                     kOutOfMemoryText + "\n";
        if (err.size() < expected.size() ||
            err.compare(err.size() - expected.size(), expected.size(), expected) != 0)
            return 12;
        return err.find('\n') == err.size() - 1 ? 0 : 13;
    });
    EXPECT_EQ(rc, 0) << "10: no file; 11: the call failed; 12: not the record; 13: more lines";
}

// Message look-ups give the text, or null with the out-of-memory status, whatever allocation
// fails; the same pointer once memory is back.
TEST_F(SvcAllocTest, MessageLookUpsGiveNullOrTheTextWhateverAllocationFails) {
    const struct {
        const char* what;
        const char* (*lookup)(unsigned, unsigned*);
        unsigned number;
        const char* text;
    } cases[] = {
        {"UTF-8", ov_msg_get_msg_utf8, 0x7E57A007, "Caf\xc3\xa9 au lait, %s."},
        {"local", ov_msg_get_msg, 0x7E57A001, "Plain text without inserts."},
        {"local, default text", ov_msg_get_msg, 0x1354A0C8, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (long after = 0;; ++after) {
            SCOPED_TRACE("allocations fail from number " + std::to_string(after));
            unsigned status = 0;
            const char* text;
            long attempts;
            {
                ovtest::FailingAllocations fail(after);
                text = c.lookup(c.number, &status);
                attempts = fail.attempts();
            }
            if (text == nullptr) {
                EXPECT_EQ(status, OV_MSG_S_NO_MEMORY);
            } else if (c.text != nullptr) {
                EXPECT_STREQ(text, c.text);
            }
            if (attempts <= after) break;
        }
        unsigned status = 0;
        const char* text = c.lookup(c.number, &status);
        ASSERT_NE(text, nullptr);
        if (c.text != nullptr) {
            EXPECT_STREQ(text, c.text);
        }
        EXPECT_EQ(c.lookup(c.number, &status), text);
    }
}

}  // namespace
