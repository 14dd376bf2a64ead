// Many threads logging, capturing, filling handles in and looking texts up at once.
#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ovmsg/msg.h"
#include "ovsvc/capture.hpp"
#include "ovsvc/svc.h"
#include "svc_test_util.h"

namespace {

[[maybe_unused]] auto* const kEnv = ::testing::AddGlobalTestEnvironment(new svc_test::QuietEnvironment);

constexpr int kThreads = 8;
constexpr int kPerThread = 200;

TEST(SvcThreads, RecordsStayWholeInOneFile) {
    char dir_template[] = "/tmp/svc_threads_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string path = std::string(dir_template) + "/all.log";
    ASSERT_EQ(ov_svc_route(OV_SVC_ERROR, ("FILE:" + path).c_str()), 0);
    ovsvc::CaptureSink capture;
    // A long insert makes a torn or interleaved record easy to see.
    const std::string payload(600, 'p');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &payload] {
            for (int i = 0; i < kPerThread; ++i) {
                std::string id = "t" + std::to_string(t) + "-" + std::to_string(i) + "-" + payload;
                ov_svc_printf_withfile(wvcore_svc_handle, "thr", i, "%s%d", 0, 32, 0x1354A09A, id.c_str(), t);
                if (i % 50 == 0) ov_svc_set_progname(t % 2 ? "odd" : "even", nullptr);
            }
        });
    }
    for (auto& th : threads) th.join();
    ASSERT_EQ(ov_svc_route(OV_SVC_ERROR, "DISCARD"), 0);

    std::string text = svc_test::ReadFile(path);
    std::set<std::string> seen;
    size_t lines = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "record without its line end";
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lines;
        size_t at = line.find("The configuration file t");
        ASSERT_NE(at, std::string::npos) << line;
        std::string rest = line.substr(at + 23);
        std::string id = rest.substr(0, rest.find("-p"));
        EXPECT_EQ(rest, id + "-" + payload + " could not be loaded (reason code " +
                            id.substr(1, id.find('-') - 1) + ").");
        seen.insert(id);
    }
    EXPECT_EQ(lines, static_cast<size_t>(kThreads * kPerThread));
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kPerThread));
    EXPECT_EQ(capture.size(), static_cast<size_t>(kThreads * kPerThread));
    std::system(("rm -rf " + std::string(dir_template)).c_str());
}

TEST(SvcThreads, CaptureCanBeSwappedWhileOthersLog) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int t = 0; t < 4; ++t)
        loggers.emplace_back([&stop] {
            while (!stop.load()) ov_svc_printf_withfile(bas_svc_handle, "f", 1, "", 0, 64, 0x10652065);
        });
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        // Each sink is destroyed while the loggers run; none may be called after that.
        ovsvc::CaptureSink capture;
        while (capture.size() < 3) std::this_thread::yield();
        for (const auto& r : capture.records()) {
            EXPECT_EQ(r.msgid, 0x10652065u);
            EXPECT_EQ(r.text, "Out of memory: a memory allocation failed.");
        }
    }
    stop = true;
    for (auto& th : loggers) th.join();
}

TEST(SvcThreads, FirstUseOfAHandleFromManyThreads) {
    setenv("OV_SVC_DEBUG", "ras:2=6", 1);
    ov_svc_subcomp_t table[3] = {{"a", "", 0}, {"b", "", 0}, {"c", "", 0}};
    dce_svc_handle_s_t own = {"ras", table, 3, 0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                if (ov_svc_debug_level(&own, 2) != 6) ++wrong;
                ov_svc_set_debug_level(&own, 0, static_cast<unsigned>(i));
            }
        });
    for (auto& th : threads) th.join();
    unsetenv("OV_SVC_DEBUG");
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(ov_svc_debug_level(&own, 0), 99u);
}

TEST(SvcThreads, TextLookupsAgreeOnOnePointer) {
    const unsigned numbers[] = {0x10652065, 0x1354A1C8, 0x15E3A003, 0x35E51020, 0x7E57A002};
    std::vector<std::vector<const char*>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (unsigned n : numbers) {
                got[t].push_back(t % 2 ? ov_msg_get_msg(n, nullptr) : ov_msg_get_msg_utf8(n, nullptr));
            }
        });
    for (auto& th : threads) th.join();
    for (int t = 2; t < kThreads; ++t) EXPECT_EQ(got[t], got[t % 2]) << t;
    for (const char* p : got[0]) EXPECT_NE(p, nullptr);
}

}  // namespace
