// Numbered messages: inserts pulled as `format` types them, filled into catalog texts safely,
// and the structured records the capture sink receives.
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ovsvc/capture.hpp"
#include "ovsvc/svc.h"
#include "svc_test_util.h"

namespace {

[[maybe_unused]] auto* const kEnv =
    ::testing::AddGlobalTestEnvironment(new svc_test::QuietEnvironment);

using ovsvc::CapturedRecord;
using ovsvc::CaptureSink;

CapturedRecord logOne(const std::function<void()>& log) {
    CaptureSink capture;
    log();
    auto records = capture.records();
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? CapturedRecord() : records[0];
}

TEST(SvcFormat, InsertsFillCatalogTexts) {
    const char* null_text = nullptr;
    const struct {
        const char* name;
        std::function<void()> log;
        const char* text;
        std::vector<std::string> inserts;
    } cases[] = {
        {"no inserts",
         [] { ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "", 0, 32, 0x7E57A001); },
         "Plain text without inserts.",
         {}},
        {"string and int",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s%d", 0, 32, 0x7E57A002, "abc",
                                    -7);
         },
         "Two inserts: abc and -7.",
         {"abc", "-7"}},
        {"null string",
         [=] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s%d", 0, 32, 0x7E57A002, null_text,
                                    1);
         },
         "Two inserts: (null) and 1.",
         {"(null)", "1"}},
        {"text names more conversions than inserts",
         [] { ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s", 0, 32, 0x7E57A003, "one"); },
         "More conversions than inserts: one %d %s %x.",
         {"one"}},
        {"a %n in the text is never a write",
         [] { ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s", 0, 32, 0x7E57A004, "x"); },
         "A write conversion %n stays text; then x.",
         {"x"}},
        {"positional conversions reorder",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s%s", 0, 32, 0x7E57A005, "first",
                                    "second");
         },
         "Reordered: second before first.",
         {"first", "second"}},
        {"flags, widths and precisions of the text",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%d%s%x%s", 0, 32, 0x7E57A006, 42,
                                    "ab", 0xbeefu, "abcdef");
         },
         "Widths: [   42] [ab  ] [0000beef] [abc].",
         {"42", "ab", "beef", "abcdef"}},
        {"conversions the text cannot fill stay text",
         [] { ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s", 0, 32, 0x7E57A008, "s"); },
         "Percent % sign, float %f and pointer %p, then s, cut off %",
         {"s"}},
        {"every insert type",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%u%x%ld%lu%lx%c", 0, 32, 0x7E57A009,
                                    4000000000u, 255u, LONG_MIN, ULONG_MAX, 0xABCDEFl, 'q');
         },
         "Unsigned 4000000000, hex ff, long -9223372036854775808, unsigned long "
         "18446744073709551615, "
         "long hex abcdef, char q.",
         {"4000000000", "ff", "-9223372036854775808", "18446744073709551615", "abcdef", "q"}},
        {"huge widths are clipped",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%d%s", 0, 32, 0x7E57A00A, 5, "abc");
         },
         nullptr,
         {"5", "abc"}},
        {"insert types that differ from the text's conversions",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%d%d", 0, 32, 0x7E57A002, -1, 2);
         },
         "Two inserts: -1 and 2.",
         {"-1", "2"}},
        {"a string where the text wants a number",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s%s", 0, 32, 0x7E57A002, "a", "b");
         },
         "Two inserts: a and b.",
         {"a", "b"}},
        {"the format stops at a conversion it cannot type",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s%f%s", 0, 32, 0x7E57A005, "one",
                                    2.5, "x");
         },
         "Reordered: %2$s before one.",
         {"one"}},
        {"a %n in the format reads nothing",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%n%s", 0, 32, 0x7E57A002, nullptr,
                                    "x");
         },
         "Two inserts: %s and %d.",
         {}},
        {"a number without any text",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s%d", 0, 32, 0x12345001u, "left",
                                    3);
         },
         "message 0x12345001: left, 3",
         {"left", "3"}},
        {"a product message",
         [] {
             ov_svc_printf_withfile(wvcore_svc_handle, "f", 1, "%s%d", 0, 32, 0x1354A09A,
                                    "/etc/a.conf", 1);
         },
         "The configuration file /etc/a.conf could not be loaded (reason code 1).",
         {"/etc/a.conf", "1"}},
        {"exception default message reorders its inserts",
         [] {
             ov_svc_printf_withfile(ovz_svc_handle, "f", 1, "%s%s%d%d", 0, 16, 0x35E51001,
                                    "bad thing", "src/x.cc", 12, 23);
         },
         "Object library exception of kind 23: bad thing (raised in src/x.cc at line 12).",
         {"bad thing", "src/x.cc", "12", "23"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRecord r = logOne(c.log);
        if (c.text) {
            EXPECT_EQ(r.text, c.text);
        } else {
            EXPECT_EQ(r.text,
                      "Huge width [" + std::string(256 - 1, ' ') + "5] and precision [abc].");
        }
        EXPECT_EQ(r.inserts, c.inserts);
    }
}

TEST(SvcFormat, VprintfReadsTheSameList) {
    auto via_va = [](const char* format, ...) {
        va_list args;
        va_start(args, format);
        int rc =
            ov_svc_vprintf_withfile(ovz_svc_handle, "src/z", 9, format, 0, 16, 0x35E5102B, args);
        va_end(args);
        return rc;
    };
    CapturedRecord r =
        logOne([&] { EXPECT_EQ(via_va("%s%s%d", "bad line", "/etc/x.conf", 7), 0); });
    EXPECT_EQ(r.text, "Invalid data in the properties file: bad line (file /etc/x.conf, line 7).");
}

TEST(SvcFormat, CaptureRecordCarriesTheCall) {
    CapturedRecord r = logOne([] {
        ov_svc_printf_cs_withfile(wvcore_svc_handle, ov_svc_utf8_cs, "src/util/wvlock", 120, "%d",
                                  2, 32, 0x1354A1C8, 22);
    });
    EXPECT_EQ(r.handle, wvcore_svc_handle);
    EXPECT_EQ(r.component, "wvcore");
    EXPECT_EQ(r.subcomp, 2u);
    EXPECT_EQ(r.subcomp_name, "locks");
    EXPECT_EQ(r.severity, OV_SVC_ERROR);
    EXPECT_EQ(r.attributes, 32u);
    EXPECT_FALSE(r.is_debug);
    EXPECT_EQ(r.level, 0u);
    EXPECT_EQ(r.msgid, 0x1354A1C8u);
    EXPECT_TRUE(r.utf8);
    EXPECT_EQ(r.file, "src/util/wvlock");
    EXPECT_EQ(r.line, 120);
    EXPECT_EQ(r.format, "%d");
    EXPECT_EQ(r.inserts, std::vector<std::string>{"22"});
    EXPECT_EQ(r.text, "A lock could not be acquired: pthread_mutex_lock failed with error 22.");
    // time progname[pid] SEVERITY component.subcomp 0xnumber file:line text
    std::string tail = "] ERROR wvcore.locks 0x1354a1c8 src/util/wvlock:120 " + r.text;
    ASSERT_GE(r.line_text.size(), tail.size());
    EXPECT_EQ(r.line_text.substr(r.line_text.size() - tail.size()), tail);
    EXPECT_NE(r.line_text.find(" svc_format_test[" + std::to_string(getpid()) + "]"),
              std::string::npos)
        << r.line_text;
}

TEST(SvcFormat, SeveritiesFollowTheAttributes) {
    const struct {
        unsigned attributes;
        unsigned severity;
        const char* word;
    } cases[] = {
        {16, OV_SVC_FATAL, " FATAL "},     {32, OV_SVC_ERROR, " ERROR "},
        {48, OV_SVC_WARNING, " WARNING "}, {64, OV_SVC_NOTICE, " NOTICE "},
        {0, OV_SVC_ERROR, " ERROR "},      {0x51, OV_SVC_NOTICE, " NOTICE "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attributes);
        CapturedRecord r = logOne([&] {
            ov_svc_printf_withfile(bas_svc_handle, "f", 1, "", 0, c.attributes, 0x10652065);
        });
        EXPECT_EQ(r.severity, c.severity);
        EXPECT_EQ(r.attributes, c.attributes);
        EXPECT_NE(r.line_text.find(c.word), std::string::npos) << r.line_text;
    }
}

TEST(SvcFormat, NullArgumentsAreSafe) {
    CapturedRecord r =
        logOne([] { ov_svc_printf_withfile(nullptr, nullptr, 0, nullptr, 9, 32, 0x10652065); });
    EXPECT_EQ(r.component, "");
    EXPECT_EQ(r.file, "");
    EXPECT_EQ(r.format, "");
    EXPECT_EQ(r.text, "Out of memory: a memory allocation failed.");
}

TEST(SvcFormat, NestedCapturesRestoreTheOuterOne) {
    CaptureSink outer;
    {
        CaptureSink inner;
        ov_svc_printf_withfile(bas_svc_handle, "f", 1, "", 0, 64, 0x10652065);
        EXPECT_EQ(inner.size(), 1u);
    }
    EXPECT_EQ(outer.size(), 0u);
    ov_svc_printf_withfile(bas_svc_handle, "f", 2, "", 0, 64, 0x10652065);
    EXPECT_EQ(outer.size(), 1u);
}

TEST(SvcStartup, ProgramNameAndInit) {
    unsigned status = 0;
    ov_svc_set_progname(nullptr, &status);
    EXPECT_EQ(status, OV_SVC_S_BAD_PARAM);
    ov_svc_set_progname("", &status);
    EXPECT_EQ(status, OV_SVC_S_BAD_PARAM);
    ov_svc_set_progname("ovacld", &status);
    EXPECT_EQ(status, OV_SVC_S_OK);
    CapturedRecord r =
        logOne([] { ov_svc_printf_withfile(bas_svc_handle, "f", 1, "", 0, 64, 0x10652065); });
    EXPECT_NE(r.line_text.find(" ovacld[" + std::to_string(getpid()) + "] NOTICE "),
              std::string::npos)
        << r.line_text;
    ov_svc_set_progname("svc_format_test", &status);

    ov_svc_init(1, &status);
    EXPECT_EQ(status, OV_SVC_S_BAD_PARAM);
    status = 1;
    ov_svc_init(0, &status);
    EXPECT_EQ(status, OV_SVC_S_OK);
}

}  // namespace
