// Exceptions and message services: throwing keeps the dynamic type and the place, the
// inserts fit the kind's format, and report() reaches the installed service.
#include <ovz/exceptions.h>
#include <ovz/message_service.h>

#include <gtest/gtest.h>
#include <ovsvc/capture.hpp>
#include <ovsvc/svc.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

TEST(Exceptions, ThrowExceptionThrowsTheDynamicTypeWithFileAndLine) {
    struct Case {
        const char* name;
        int kind;
        std::function<void()> raise;
    } cases[] = {
        {"ZOutOfMemoryException", ZEXC_OUT_OF_MEMORY,
         [] { ZOutOfMemoryException_6_0().throwException("src/a", 11); }},
        {"ZInvalidParameterException", ZEXC_INVALID_PARAMETER,
         [] { ZInvalidParameterException_6_0("name is null").throwException("src/a", 11); }},
        {"ZPropertiesInvalidDataException", ZEXC_PROPERTIES_INVALID_DATA,
         [] {
             ZPropertiesInvalidDataException_6_0("no '='", "/etc/x.conf", 7)
                 .throwException("src/a", 11);
         }},
        {"ZException", ZEXC_LOCK_FAILURE,
         [] { ZException_6_0(ZEXC_LOCK_FAILURE, {"busy"}).throwException("src/a", 11); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Thrown through a base reference, so only a virtual throwException keeps the type.
        try {
            c.raise();
            FAIL() << "nothing thrown";
        } catch (ZException_6_0& e) {
            EXPECT_STREQ(e.name(), c.name);
            EXPECT_EQ(e.kind(), c.kind);
            EXPECT_STREQ(e.sourceFile(), "src/a");
            EXPECT_EQ(e.sourceLine(), 11);
            EXPECT_NE(e.text(), nullptr);
        }
    }
    try {
        ZException_6_0* base = new ZPropertiesInvalidDataException_6_0("bad", "/f", 3);
        std::unique_ptr<ZException_6_0> owner(base);
        base->throwException(__FILE__, 99);
    } catch (ZPropertiesInvalidDataException_6_0& e) {
        EXPECT_STREQ(e.reason(), "bad");
        EXPECT_STREQ(e.fileName(), "/f");
        EXPECT_EQ(e.lineNumber(), 3);
        EXPECT_EQ(e.sourceLine(), 99);
        EXPECT_STREQ(e.text(), "invalid data in /f at line 3: bad");
    }
}

TEST(Exceptions, CopiesOwnTheirTexts) {
    auto* original = new ZInvalidParameterException_6_0("port");
    try {
        original->throwException("src/b", 5);
    } catch (ZInvalidParameterException_6_0& thrown) {
        ZInvalidParameterException_6_0 copy(thrown);
        ZException_6_0 assigned;
        assigned = thrown;
        delete original;
        EXPECT_STREQ(copy.text(), "invalid parameter: port");
        EXPECT_NE(copy.text(), thrown.text());
        EXPECT_STREQ(assigned.text(), "invalid parameter: port");
        EXPECT_STREQ(assigned.sourceFile(), "src/b");
        EXPECT_EQ(assigned.kind(), ZEXC_INVALID_PARAMETER);
    }
}

TEST(Exceptions, InsertsAreFittedToTheKindsFormat) {
    struct Case {
        const char* what;
        ZException_6_0 e;
        std::vector<std::string> texts;  // "#n" stands for the number n
    } cases[] = {
        {"file read", ZException_6_0(ZEXC_FILE_READ, {"/etc/a", "No such file"}),
         {"/etc/a", "No such file"}},
        {"missing insert", ZException_6_0(ZEXC_FILE_WRITE, {"/etc/a"}), {"/etc/a", ""}},
        {"extra insert", ZException_6_0(ZEXC_FAILURE, {"one", "two"}), {"one"}},
        {"number for text", ZException_6_0(ZEXC_LOCK_FAILURE, {42}), {"42"}},
        {"text for number", ZException_6_0(ZEXC_PROPERTIES_INVALID_DATA, {"r", "f", "x"}),
         {"r", "f", "#0"}},
        {"no message of its own", ZException_6_0(23, {"dropped"}), {}},
        {"kind 0", ZException_6_0(0, {"dropped"}), {}},
        {"out of memory", ZOutOfMemoryException_6_0(), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto& in = c.e.inserts();
        ASSERT_EQ(in.size(), c.texts.size());
        for (size_t i = 0; i < in.size(); ++i) {
            if (c.texts[i][0] == '#') {
                EXPECT_FALSE(in[i].isText());
                EXPECT_EQ(in[i].number(), std::stoi(c.texts[i].substr(1)));
            } else {
                EXPECT_TRUE(in[i].isText());
                EXPECT_EQ(in[i].text(), c.texts[i]);
            }
        }
    }
}

TEST(Exceptions, FormatTable) {
    struct Case {
        int kind;
        const char* format;  // null: no message of its own
    } cases[] = {
        {-1, nullptr}, {0, nullptr},       {1, ""},         {2, "%s%s%d"},   {3, "%d"},
        {12, "%s%s"},  {13, "%s%s"},       {22, ""},        {23, nullptr},   {24, "%d"},
        {28, "%s%s%s"}, {32, "%s"},        {37, "%d%s"},    {39, "%s%s%s%s"}, {42, "%s"},
        {43, "%s%s%d"}, {44, "%s%d%s"},    {49, "%s"},      {52, "%s%s%d%s"}, {54, "%s"},
        {55, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const char* f = zexceptionFormat_6_0(c.kind);
        if (c.format == nullptr) {
            EXPECT_EQ(f, nullptr);
        } else {
            EXPECT_STREQ(f, c.format);
        }
    }
}

// A service that keeps what it was handed, reading the va_list as the kind's format says.
class RecordingService : public ZMessageService_6_0 {
public:
    int outputMessage(const char*, int, int, int, const ZLCString_6_0*, const ZLCString_6_0*,
                      const ZLCString_6_0*, const ZLCString_6_0*, const ZLCString_6_0*,
                      const ZLCString_6_0*) const override {
        return -1;
    }
    int outputMessageUTF8(const char*, int, int, int, const ZUTF8String_6_0*,
                          const ZUTF8String_6_0*, const ZUTF8String_6_0*, const ZUTF8String_6_0*,
                          const ZUTF8String_6_0*, const ZUTF8String_6_0*) const override {
        return -1;
    }
    int outputException(ZException_6_0& e) const override { return e.report(); }
    int outputException(const ZZException_6_0* x, va_list ap) const override {
        record = x;
        kind = x->kind();
        text = x->text();
        file = x->sourceFile();
        line = x->sourceLine();
        inserts.clear();
        const char* f = zexceptionFormat_6_0(x->kind());
        for (; f && f[0] == '%' && f[1]; f += 2)
            inserts.push_back(f[1] == 's' ? std::string(va_arg(ap, const char*))
                                          : "#" + std::to_string(va_arg(ap, int)));
        return 77;
    }

    mutable const ZZException_6_0* record = nullptr;
    mutable int kind = -1;
    mutable std::string text, file;
    mutable int line = 0;
    mutable std::vector<std::string> inserts;
};

class InstalledService : public ::testing::Test {
protected:
    void SetUp() override { ZMessageService_6_0::setMessageService(&service); }
    void TearDown() override { ZMessageService_6_0::setMessageService(nullptr); }
    RecordingService service;
};

TEST_F(InstalledService, ReportHandsRecordAndInsertsToTheInstalledService) {
    EXPECT_EQ(ZMessageService_6_0::messageService(), &service);
    try {
        ZPropertiesInvalidDataException_6_0("key before stanza", "/opt/x.conf", 4)
            .throwException("src/util/cfgfile", 120);
    } catch (ZException_6_0& e) {
        EXPECT_EQ(e.report(), 77);
        EXPECT_EQ(service.record, static_cast<const ZZException_6_0*>(&e));
        EXPECT_EQ(service.kind, ZEXC_PROPERTIES_INVALID_DATA);
        EXPECT_EQ(service.text, e.text());
        EXPECT_EQ(service.file, "src/util/cfgfile");
        EXPECT_EQ(service.line, 120);
        EXPECT_EQ(service.inserts,
                  (std::vector<std::string>{"key before stanza", "/opt/x.conf", "#4"}));
    }
    ZException_6_0 read(ZEXC_FILE_READ, {"/etc/a", "Permission denied"});
    EXPECT_EQ(service.outputException(read), 77);
    EXPECT_EQ(service.inserts, (std::vector<std::string>{"/etc/a", "Permission denied"}));
}

TEST_F(InstalledService, UninstallingRestoresTheDefaultService) {
    ZMessageService_6_0::setMessageService(nullptr);
    EXPECT_EQ(ZMessageService_6_0::messageService(), ZMessageService_6_0::defaultMessageService());
    EXPECT_NE(ZMessageService_6_0::defaultMessageService(), nullptr);
}

TEST(DefaultService, LogsExceptionRecordsAsTheGenericMessage) {
    ovsvc::CaptureSink capture;
    ZMessageService_6_0::setMessageService(nullptr);
    try {
        ZInvalidParameterException_6_0("flag").throwException("src/c", 31);
    } catch (ZException_6_0& e) {
        EXPECT_EQ(e.report(), 0);
    }
    auto records = capture.withMsgid(OVZ_EXCEPTION_MSGID);
    ASSERT_EQ(records.size(), 1u);
    const auto& r = records[0];
    EXPECT_EQ(r.handle, ovz_svc_handle);
    EXPECT_EQ(r.attributes, OV_SVC_FATAL);
    EXPECT_EQ(r.subcomp, 0u);
    EXPECT_EQ(r.format, "%s%s%d%d");
    EXPECT_EQ(r.inserts,
              (std::vector<std::string>{"invalid parameter: flag", "src/c", "31", "32"}));
}

TEST(DefaultService, PlainMessagesFillTheirInserts) {
    ovsvc::CaptureSink capture;
    ZMessageService_6_0* service = ZMessageService_6_0::defaultMessageService();
    ZLCString_6_0 a("alpha"), b("beta");
    service->outputMessage("%2 before %1, 100%% sure%3", 0x35E51040, OV_SVC_WARNING, 0, &a, &b,
                           nullptr, nullptr, nullptr, nullptr);
    ZUTF8String_6_0 u("\xc3\xa9t\xc3\xa9");
    service->outputMessageUTF8("summer: %1", 0x35E51041, 12345, 0, &u, nullptr, nullptr,
                               nullptr, nullptr, nullptr);

    auto lc = capture.withMsgid(0x35E51040);
    ASSERT_EQ(lc.size(), 1u);
    EXPECT_EQ(lc[0].attributes, OV_SVC_WARNING);
    EXPECT_EQ(lc[0].format, "%s");
    EXPECT_EQ(lc[0].inserts, std::vector<std::string>{"beta before alpha, 100% sure"});

    auto utf8 = capture.withMsgid(0x35E51041);
    ASSERT_EQ(utf8.size(), 1u);
    EXPECT_TRUE(utf8[0].utf8);
    EXPECT_EQ(utf8[0].attributes, OV_SVC_NOTICE);  // an unknown severity is a notice
    EXPECT_EQ(utf8[0].inserts, std::vector<std::string>{"summer: \xc3\xa9t\xc3\xa9"});
}

}  // namespace
