// The FIPS mode flag under concurrent first use: readers of the configuration and explicit
// settings race, and every caller sees the one value that was settled.
#include <ovutil/fipsMode.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <ovsvc/capture.hpp>

#include "src/util/fipsMode_scenario.h"

namespace {

TEST(FipsModeThreads, ConcurrentCallersAllSeeOneSettledValue) {
    // The configuration says on and half of the threads try to set it off: whichever stores
    // first, everybody must agree, and the configuration is read at most once.
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        auto out = ovtest::runScenario(
            ovtest::fipsScenario(std::string("[ssl]\nssl-enable-fips = yes\n")), [](ovtest::Report& r) {
                ovsvc::CaptureSink capture;
                constexpr int kThreads = 8;
                std::atomic<int> ready{0};
                std::vector<int> seen(kThreads, -2);
                std::vector<std::thread> threads;
                for (int t = 0; t < kThreads; ++t) {
                    threads.emplace_back([&, t] {
                        ready.fetch_add(1);
                        while (ready.load() < kThreads) {
                        }
                        if (t % 2 == 1)
                            setFIPSMode(0);
                        seen[t] = getFIPSMode();
                    });
                }
                for (auto& th : threads) th.join();
                const int settled = getFIPSMode();
                r.check(settled == 0 || settled == 1, "settled to 0 or 1");
                for (int t = 0; t < kThreads; ++t)
                    r.check(seen[t] == settled, "thread " + std::to_string(t) + " saw " +
                                                    std::to_string(seen[t]) + ", settled " +
                                                    std::to_string(settled));
                r.check(capture.withMsgid(0x15E3A003).empty() && capture.withMsgid(0x15E3A0A3).empty(),
                        "the setting was readable");
            });
        OV_EXPECT_SCENARIO_RAN(out);
    }
}

}  // namespace
