// Start-up and the message caches under concurrent first use.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "harness/scenario.h"
#include <ovsvc/capture.hpp>
#include <ovutil/PathMap.h>
#include <ovutil/getpath.h>
#include <ovutil/wvmsg.h>
#include <ovz/message_service.h>

namespace {

constexpr int kThreads = 8;

// Starts `body(i)` on kThreads threads released together.
template <typename Body>
void raceThreads(Body body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            body(i);
        });
    for (auto& t : threads) t.join();
}

TEST(StartupThreadsTest, ConcurrentFirstCallsRunStartUpOnce) {
    ovtest::Scenario s;
    // Every run of start-up reports this broken file once (the registry tries a failed load
    // again): the count of reports is the count of runs.
    s.files["/opt/Orvan/etc/ov.conf"] = "[ovrte]\nnot a key\n";
    s.files["/etc/zel/selvan/common/cfg/log.properties"] = "selvan_common_dir=/srv/family\n";
    ovtest::Outcome out = ovtest::runScenario(s, [](ovtest::Report& r) {
        ovsvc::CaptureSink capture;
        std::atomic<int> wrong{0};
        std::vector<const void*> services(kThreads);
        raceThreads([&](int i) {
            if (i % 2 == 0) ovutil_init();
            // Set by start-up before it reads ov.conf: no thread may see the table before.
            const char* root = ov_get_path("#ov_undefined_scd_root");
            if (root == nullptr || std::string(root) != "/srv/family") wrong.fetch_add(1);
            services[i] = ZMessageService_6_0::messageService();
        });
        r.put("wrong paths", wrong.load());
        int reports = 0;
        for (const auto& rec : capture.records())
            if (!rec.is_debug && rec.handle == ovz_svc_handle) ++reports;
        r.put("reports", reports);
        int same = 0;
        for (const void* svc : services) same += svc == services[0] ? 1 : 0;
        r.put("same service", same);
        r.put("service is the default", services[0] == ZMessageService_6_0::defaultMessageService() ? "yes" : "no");
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ(out.value("wrong paths"), "0");
    EXPECT_EQ(out.value("reports"), "1");
    EXPECT_EQ(out.value("same service"), std::to_string(kThreads));
    EXPECT_EQ(out.value("service is the default"), "no");
}

TEST(StartupThreadsTest, ConcurrentLookUpsAgreeOnEveryPointer) {
    std::string path = std::string(OV_STARTUP_TEST_NLS) + "/%L/%N.cat:" + OV_NLS_MSG_DIR +
                       "/%L/%N.cat";
    setenv("NLSPATH", path.c_str(), 1);
    // Known, unknown and library numbers, in both caches.
    std::vector<unsigned> numbers;
    for (unsigned n = 0x7E57A001; n <= 0x7E57A003; ++n) numbers.push_back(n);
    for (unsigned n = 0x7E57A100; n < 0x7E57A200; ++n) numbers.push_back(n);
    numbers.push_back(0x10652065);
    const size_t count = numbers.size();
    std::vector<std::vector<const char*>> local(kThreads, std::vector<const char*>(count));
    std::vector<std::vector<const char*>> utf8(kThreads, std::vector<const char*>(count));
    raceThreads([&](int t) {
        // Each thread walks the numbers from another starting point.
        for (size_t k = 0; k < count; ++k) {
            size_t i = (k + static_cast<size_t>(t) * 37) % count;
            local[t][i] = wv_i18n_msg(numbers[i]);
            utf8[t][i] = wv_i18n_msg_utf8(numbers[i]);
        }
    });
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(numbers[i]);
        ASSERT_NE(local[0][i], nullptr);
        ASSERT_NE(utf8[0][i], nullptr);
        EXPECT_NE(local[0][i], utf8[0][i]);
        for (int t = 1; t < kThreads; ++t) {
            ASSERT_EQ(local[t][i], local[0][i]);
            ASSERT_EQ(utf8[t][i], utf8[0][i]);
        }
        EXPECT_EQ(wv_i18n_msg(numbers[i]), local[0][i]);
    }
    EXPECT_STREQ(local[0][0], "First text of the test catalog.");
}

}  // namespace
