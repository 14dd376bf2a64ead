// The tool's pieces below the command line: inputs refused at their limit without reading
// further, and object-library failures shown under the number the product logs them with.
#include "tool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <ovsvc/capture.hpp>
#include <ovsvc/svc.h>
#include <ovutil/OVMessageService.h>
#include <ovz/exceptions.h>

namespace {

using ovtool::Failure;

// Writes `bytes` into a pipe from another thread and reads it back with `limit`; returns how
// the read ended and how many bytes the writer got rid of before the reader stopped.
struct PipeRead {
    bool refused = false;
    std::string bytes;
    size_t written = 0;
};
PipeRead readThroughPipe(const std::string& bytes, size_t limit) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    PipeRead result;
    std::thread writer([&] {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;  // the reader is gone: EPIPE
            done += static_cast<size_t>(n);
        }
        result.written = done;
        close(fds[1]);
    });
    try {
        result.bytes = ovtool::readDescriptor(fds[0], "-", limit);
    } catch (const Failure& f) {
        result.refused = true;
        EXPECT_EQ(f.number, ovtool::kMsgTooLarge);
        EXPECT_EQ(
            ovtool::formatMessage(f.number, f.inserts),
            "The input - is too large: it holds more than " + std::to_string(limit) + " bytes.");
    }
    close(fds[0]);
    writer.join();
    return result;
}

TEST(ToolInput, APipeIsReadUpToItsLimitAndRefusedOneBytePast) {
    signal(SIGPIPE, SIG_IGN);
    struct Case {
        size_t size, limit;
        bool refused;
    } cases[] = {
        {0, 0, false},         {1, 0, true},         {100, 100, false},    {101, 100, true},
        {65536, 65536, false}, {65537, 65536, true}, {200000, 1000, true}, {200000, 200000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, limit " + std::to_string(c.limit));
        std::string input(c.size, 'x');
        for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<char>(i * 7);
        PipeRead r = readThroughPipe(input, c.limit);
        EXPECT_EQ(r.refused, c.refused);
        if (!c.refused) {
            EXPECT_EQ(r.bytes, input);
        }
    }
}

// A writer that would go on for ever is stopped once the limit is passed: the reader neither
// waits for the end nor keeps what came after the limit.
TEST(ToolInput, AnEndlessPipeIsRefusedSoonAfterTheLimit) {
    signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        std::vector<char> block(65536, '\0');
        while (write(fds[1], block.data(), block.size()) > 0) {
        }
        close(fds[1]);
    });
    EXPECT_THROW(ovtool::readDescriptor(fds[0], "-", size_t{1} << 20), Failure);
    close(fds[0]);  // the writer gets EPIPE and stops
    writer.join();
}

TEST(ToolInput, ARegularFileOverTheLimitIsRefusedByItsSize) {
    char path[] = "/tmp/ovutil-tool-test-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1000), 0);
    EXPECT_EQ(ovtool::readInput(path, 1000).size(), 1000u);
    try {
        ovtool::readInput(path, 999);
        ADD_FAILURE() << "no refusal";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number, ovtool::kMsgTooLarge);
    }
    // The file position tells that nothing was read before the refusal.
    EXPECT_THROW(ovtool::readDescriptor(fd, path, 999), Failure);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0);
    close(fd);
    unlink(path);
}

// For every failure kind, the tool shows the number under which the product's message service
// logs the same exception, and a text that holds the exception's inserts.
TEST(ToolErrors, EachKindGetsTheNumberTheProductLogsItWith) {
    OVMessageService service;
    for (unsigned severity : {OV_SVC_FATAL, OV_SVC_ERROR, OV_SVC_WARNING})
        ov_svc_route(severity, "DISCARD");
    std::vector<int> kinds;
    for (int kind = -1; kind <= 56; ++kind) kinds.push_back(kind);
    for (int kind : kinds) {
        SCOPED_TRACE("kind " + std::to_string(kind));
        ZException_6_0 e(kind, {"/etc/some.conf", "the reason", 7, "more"});
        ovsvc::CaptureSink capture;
        e.reportTo(service);
        std::vector<ovsvc::CapturedRecord> records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        Failure f = ovtool::exceptionFailure(e);
        EXPECT_EQ(f.number, records[0].msgid);
        EXPECT_EQ(ovtool::formatMessage(f.number, f.inserts), records[0].text);
    }
    // The two the tool meets most, in full.
    ZException_6_0 read(ZEXC_FILE_READ, {"/etc/a.conf", "No such file or directory"});
    Failure f = ovtool::exceptionFailure(read);
    EXPECT_EQ(f.number, 0x35E5100Du);
    EXPECT_EQ(ovtool::formatMessage(f.number, f.inserts),
              "The file /etc/a.conf cannot be opened or read: No such file or directory.");
    ZPropertiesInvalidDataException_6_0 bad("the key is empty", "/etc/b.conf", 3);
    f = ovtool::exceptionFailure(bad);
    EXPECT_EQ(f.number, 0x35E5102Bu);
    EXPECT_EQ(ovtool::formatMessage(f.number, f.inserts),
              "Invalid data in the properties file: the key is empty (file /etc/b.conf, line 3).");
}

}  // namespace
