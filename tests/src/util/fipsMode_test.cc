// The FIPS mode flag: how the product configuration settles it, what is logged when it
// cannot, and how an explicit setting wins or loses. Each case runs in its own process,
// since the flag is settled once per process.
#include <ovutil/fipsMode.h>

#include <gtest/gtest.h>

#include <string>

#include <ovsvc/capture.hpp>
#include <ovsvc/svc.h>

#include "src/util/fipsMode_scenario.h"

namespace {

using ovtest::fipsScenario;

// Puts the records of the two FIPS messages into the report: count, and the fields of the
// first one.
void reportMessages(ovtest::Report& r, const ovsvc::CaptureSink& capture) {
    for (unsigned int msgid : {0x15E3A003u, 0x15E3A0A3u}) {
        auto records = capture.withMsgid(msgid);
        const std::string id = msgid == 0x15E3A003u ? "unreadable" : "notset";
        r.put(id, static_cast<long long>(records.size()));
        if (records.empty())
            continue;
        const auto& rec = records[0];
        r.put(id + ".handle", rec.handle == ovc_svc_handle ? "ovc" : "other");
        r.put(id + ".attributes", static_cast<long long>(rec.attributes));
        r.put(id + ".subcomp", static_cast<long long>(rec.subcomp));
        r.put(id + ".utf8", static_cast<long long>(rec.utf8));
        r.put(id + ".file", rec.file);
        r.put(id + ".format", rec.format);
        std::string inserts;
        for (const auto& i : rec.inserts) inserts += "[" + i + "]";
        r.put(id + ".inserts", inserts);
    }
}

TEST(FipsMode, OnlyYesInAnyCaseTurnsTheModeOn) {
    struct Case {
        const char* value;
        int mode;
    } cases[] = {{"yes", 1}, {"YES", 1}, {"Yes", 1}, {"yEs", 1},
                 {"true", 0}, {"on", 0},  {"1", 0},   {"no", 0}, {"yes please", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        auto out = ovtest::runScenario(
            fipsScenario(std::string("[ssl]\nssl-enable-fips = ") + c.value + "\n"), [](ovtest::Report& r) {
                ovsvc::CaptureSink capture;
                r.put("mode", static_cast<long long>(getFIPSMode()));
                reportMessages(r, capture);
            });
        OV_EXPECT_SCENARIO_RAN(out);
        EXPECT_EQ(std::to_string(c.mode), out.value("mode"));
        EXPECT_EQ("0", out.value("unreadable"));
        EXPECT_EQ("0", out.value("notset"));
    }
}

TEST(FipsMode, AbsentOrEmptySettingIsLoggedOnceAndGivesOff) {
    struct Case {
        const char* name;
        const char* conf;
    } cases[] = {
        {"no key", "[ssl]\nother = x\n"},
        {"empty value", "[ssl]\nssl-enable-fips =\n"},
        {"no stanza", "[ovrte]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto out = ovtest::runScenario(fipsScenario(std::string(c.conf)), [](ovtest::Report& r) {
            ovsvc::CaptureSink capture;
            r.put("first", static_cast<long long>(getFIPSMode()));
            r.put("second", static_cast<long long>(getFIPSMode()));
            reportMessages(r, capture);
        });
        OV_EXPECT_SCENARIO_RAN(out);
        EXPECT_EQ("0", out.value("first"));
        EXPECT_EQ("0", out.value("second"));
        EXPECT_EQ("1", out.value("notset"));
        EXPECT_EQ("ovc", out.value("notset.handle"));
        EXPECT_EQ("64", out.value("notset.attributes"));
        EXPECT_EQ("0", out.value("notset.subcomp"));
        EXPECT_EQ("1", out.value("notset.utf8"));
        EXPECT_EQ("src/util/fipsMode", out.value("notset.file"));
        EXPECT_EQ("", out.value("notset.format"));
        EXPECT_EQ("", out.value("notset.inserts"));
        EXPECT_EQ("0", out.value("unreadable"));
    }
}

TEST(FipsMode, UnreadableConfigurationIsLoggedWithItsPathAndGivesOff) {
    struct Case {
        const char* name;
        std::optional<std::string> conf;
    } cases[] = {
        {"missing file", std::nullopt},
        {"invalid data", std::string("[ssl]\nnot a key value line\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto out = ovtest::runScenario(fipsScenario(c.conf), [](ovtest::Report& r) {
            ovsvc::CaptureSink capture;
            r.put("first", static_cast<long long>(getFIPSMode()));
            r.put("second", static_cast<long long>(getFIPSMode()));
            reportMessages(r, capture);
        });
        OV_EXPECT_SCENARIO_RAN(out);
        EXPECT_EQ("0", out.value("first"));
        EXPECT_EQ("0", out.value("second"));
        EXPECT_EQ("1", out.value("unreadable"));
        EXPECT_EQ("ovc", out.value("unreadable.handle"));
        EXPECT_EQ("32", out.value("unreadable.attributes"));
        EXPECT_EQ("0", out.value("unreadable.subcomp"));
        EXPECT_EQ("src/util/fipsMode", out.value("unreadable.file"));
        EXPECT_EQ("%s", out.value("unreadable.format"));
        EXPECT_EQ("[/opt/Orvan/etc/ov.conf]", out.value("unreadable.inserts"));
        EXPECT_EQ("0", out.value("notset"));
    }
}

// A configuration of an earlier release is upgraded when it is read: the missing setting is
// written as "no", so it reads as set.
TEST(FipsMode, OldConfigurationIsUpgradedBeforeItIsRead) {
    auto out = ovtest::runScenario(fipsScenario(std::string("[ssl]\na = b\n"), false), [](ovtest::Report& r) {
        ovsvc::CaptureSink capture;
        r.put("mode", static_cast<long long>(getFIPSMode()));
        reportMessages(r, capture);
    });
    OV_EXPECT_SCENARIO_RAN(out);
    EXPECT_EQ("0", out.value("mode"));
    EXPECT_EQ("0", out.value("notset"));
    EXPECT_EQ("0", out.value("unreadable"));
}

TEST(FipsMode, FirstSettingWins) {
    // Set before anyone asks: the configuration is not read at all (it is missing here, and
    // nothing is logged about it).
    auto early = ovtest::runScenario(fipsScenario(std::nullopt), [](ovtest::Report& r) {
        ovsvc::CaptureSink capture;
        setFIPSMode(1);
        r.put("mode", static_cast<long long>(getFIPSMode()));
        setFIPSMode(0);
        r.put("after", static_cast<long long>(getFIPSMode()));
        reportMessages(r, capture);
    });
    OV_EXPECT_SCENARIO_RAN(early);
    EXPECT_EQ("1", early.value("mode"));
    EXPECT_EQ("1", early.value("after"));
    EXPECT_EQ("0", early.value("unreadable"));

    // Settled to 1 by the configuration: a later explicit 0 changes nothing.
    auto late = ovtest::runScenario(fipsScenario(std::string("[ssl]\nssl-enable-fips = yes\n")),
                                    [](ovtest::Report& r) {
                                        r.put("mode", static_cast<long long>(getFIPSMode()));
                                        setFIPSMode(0);
                                        r.put("after", static_cast<long long>(getFIPSMode()));
                                    });
    OV_EXPECT_SCENARIO_RAN(late);
    EXPECT_EQ("1", late.value("mode"));
    EXPECT_EQ("1", late.value("after"));
}

}  // namespace
