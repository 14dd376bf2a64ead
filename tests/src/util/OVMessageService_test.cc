// OVMessageService: every exception kind is logged under its own number, at the place where
// it was raised; kinds without a number go to the generic message.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ovsvc/capture.hpp>
#include <ovsvc/svc.h>
#include <ovutil/OVMessageService.h>
#include <ovz/exceptions.h>
#include <ovz/message_service.h>

namespace {

constexpr unsigned kGeneric = 0x35E51001u;

// Raises an exception of `kind` at raise.cc:42 whose inserts follow `format`: texts "s0",
// "s1"..., numbers 100, 101... by position.
ZException_6_0 raised(int kind, const std::string& format) {
    std::vector<ZExceptionInsert_6_0> in;
    for (size_t i = 0; i + 1 < format.size(); i += 2) {
        int pos = static_cast<int>(i / 2);
        if (format[i + 1] == 's')
            in.emplace_back("s" + std::to_string(pos));
        else
            in.emplace_back(100 + pos);
    }
    while (in.size() < 4) in.emplace_back("unused");
    try {
        ZException_6_0(kind, {in[0], in[1], in[2], in[3]}).throwException("raise.cc", 42);
    } catch (ZException_6_0& e) {
        return e;
    }
    return ZException_6_0();
}

std::vector<std::string> expectedInserts(const std::string& format) {
    std::vector<std::string> out;
    for (size_t i = 0; i + 1 < format.size(); i += 2) {
        int pos = static_cast<int>(i / 2);
        out.push_back(format[i + 1] == 's' ? "s" + std::to_string(pos) : std::to_string(100 + pos));
    }
    return out;
}

TEST(MessageServiceTest, EveryKindIsLoggedUnderItsNumberFormatAndSeverity) {
    struct Case {
        int kind;
        unsigned msgid;
        unsigned attributes;
        const char* format;
    };
    const Case cases[] = {
        {1, 0x35E51002, 16, ""},          {2, 0x35E51003, 16, "%s%s%d"},
        {3, 0x35E51004, 16, "%d"},        {10, 0x35E5100B, 16, "%d"},
        {11, 0x35E5100C, 16, ""},         {12, 0x35E5100D, 16, "%s%s"},
        {13, 0x35E5100E, 16, "%s%s"},     {14, 0x35E5100F, 16, ""},
        {15, 0x35E51010, 16, "%d"},       {19, 0x35E51014, 16, ""},
        {21, 0x35E51016, 16, "%d"},       {22, 0x35E51017, 16, ""},
        {24, 0x35E51018, 16, "%d"},       {27, 0x35E5101B, 16, "%d"},
        {28, 0x35E5101C, 16, "%s%s%s"},   {29, 0x35E5101D, 16, "%d"},
        {31, 0x35E5101F, 16, ""},         {32, 0x35E51020, 16, "%s"},
        {36, 0x35E51024, 16, "%d"},       {37, 0x35E51025, 16, "%d%s"},
        {38, 0x35E51026, 16, "%d%s"},     {39, 0x35E51027, 16, "%s%s%s%s"},
        {41, 0x35E51029, 16, "%s%s%s%s"}, {42, 0x35E5102A, 16, "%s"},
        {43, 0x35E5102B, 16, "%s%s%d"},   {44, 0x35E5102C, 16, "%s%d%s"},
        {45, 0x35E5102D, 16, ""},         {46, 0x35E5102E, 16, ""},
        {47, 0x35E5102F, 16, "%s%s"},     {48, 0x35E51030, 16, ""},
        {49, 0x35E51031, 16, "%s"},       {50, 0x35E51032, 16, "%s"},
        {51, 0x35E51033, 16, "%s%d%s"},   {52, 0x35E51034, 16, "%s%s%d%s"},
        {53, 0x35E51035, 32, "%s"},       {54, 0x35E51036, 32, "%s"},
    };
    OVMessageService service;
    for (const Case& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind));
        ZException_6_0 e = raised(c.kind, c.format);
        ovsvc::CaptureSink capture;
        e.reportTo(service);
        auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        const ovsvc::CapturedRecord& r = records[0];
        EXPECT_EQ(r.handle, ovz_svc_handle);
        EXPECT_EQ(r.msgid, c.msgid);
        EXPECT_EQ(r.attributes, c.attributes);
        EXPECT_EQ(r.subcomp, 0u);
        EXPECT_EQ(r.format, c.format);
        EXPECT_EQ(r.file, "raise.cc");
        EXPECT_EQ(r.line, 42);
        EXPECT_EQ(r.inserts, expectedInserts(c.format));
    }
}

TEST(MessageServiceTest, KindsWithoutANumberGoToTheGenericMessage) {
    // 23 is the gap in the numbering: 24 is 0x35E51018, so 23 must not take it.
    const int kinds[] = {0, 23, 55, 1000, -1};
    OVMessageService service;
    for (int kind : kinds) {
        SCOPED_TRACE("kind " + std::to_string(kind));
        ZException_6_0 e = raised(kind, "");
        ovsvc::CaptureSink capture;
        e.reportTo(service);
        auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        const ovsvc::CapturedRecord& r = records[0];
        EXPECT_EQ(r.handle, ovz_svc_handle);
        EXPECT_EQ(r.msgid, kGeneric);
        EXPECT_EQ(r.attributes, 16u);
        EXPECT_EQ(r.format, "%s%s%d%d");
        EXPECT_EQ(r.file, "src/util/getpath");
        ASSERT_EQ(r.inserts.size(), 4u);
        EXPECT_EQ(r.inserts[0], e.text());
        EXPECT_EQ(r.inserts[1], "raise.cc");
        EXPECT_EQ(r.inserts[2], "42");
        EXPECT_EQ(r.inserts[3], std::to_string(kind));
        // The catalog text names all four inserts; nothing of the record is lost.
        EXPECT_NE(r.text.find(std::to_string(kind)), std::string::npos) << r.text;
        EXPECT_NE(r.text.find("raise.cc"), std::string::npos) << r.text;
    }
}

TEST(MessageServiceTest, InstalledServiceLogsReportsAndCaughtExceptions) {
    OVMessageService service;
    ZMessageService_6_0::setMessageService(&service);
    ZException_6_0 e = raised(53, "%s");
    ovsvc::CaptureSink capture;
    e.report();
    service.outputException(e);
    ZMessageService_6_0::setMessageService(nullptr);
    auto records = capture.withMsgid(0x35E51035);
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
        EXPECT_EQ(r.attributes, 32u);
        EXPECT_EQ(r.file, "raise.cc");
    }
}

TEST(MessageServiceTest, PlainMessagesReachTheDefaultServiceUnchanged) {
    OVMessageService service;
    ZLCString_6_0 first("alpha");
    ZUTF8String_6_0 second("beta");
    ovsvc::CaptureSink capture;
    int viaService = service.outputMessage("one %1 two", 0x1354A0C8, 48, 0, &first, nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
    int viaUtf8 = service.outputMessageUTF8("three %1", 0x1354A0CA, 64, 0, &second, nullptr,
                                            nullptr, nullptr, nullptr, nullptr);
    auto lc = capture.withMsgid(0x1354A0C8);
    auto utf8 = capture.withMsgid(0x1354A0CA);
    ASSERT_EQ(lc.size(), 1u);
    ASSERT_EQ(utf8.size(), 1u);
    capture.clear();
    int direct = ZMessageService_6_0::defaultMessageService()->outputMessage(
        "one %1 two", 0x1354A0C8, 48, 0, &first, nullptr, nullptr, nullptr, nullptr, nullptr);
    auto reference = capture.withMsgid(0x1354A0C8);
    ASSERT_EQ(reference.size(), 1u);
    EXPECT_EQ(viaService, direct);
    EXPECT_EQ(viaUtf8, direct);
    EXPECT_EQ(lc[0].attributes, 48u);
    EXPECT_EQ(lc[0].inserts, reference[0].inserts);
    EXPECT_EQ(lc[0].format, reference[0].format);
    ASSERT_EQ(utf8[0].inserts.size(), 1u);
    EXPECT_EQ(utf8[0].inserts[0], "three beta");
    EXPECT_TRUE(utf8[0].utf8);
    EXPECT_EQ(utf8[0].attributes, 64u);
}

}  // namespace
