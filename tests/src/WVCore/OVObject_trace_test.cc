// OVObject::traceDump: gated by the caller's level, the prefix and the map's rendering
// written as one verbatim record, and a failing write reported and swallowed.

#include <ovutil/OVObject.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <ovsvc/capture.h>
#include <ovsvc/capture.hpp>

#include "src/WVCore/OVObject_test_util.h"

namespace {

using Strings = std::vector<std::string>;

std::string Render(const OVObject& o, const char* prefix) {
    ZUTF8String_6_0 text(prefix);
    o.map.buildTraceBuf(text, 0);
    return text.c_str();
}

TEST(OVObjectTrace, WritesOnlyAtAnEnabledLevel) {
    objtest::DebugLevel configured(wvcore_svc_handle, 3, 5);
    OVObject o("o");
    o.addStringValue("pwd", "secret", nullptr);
    struct Case {
        int level;
        bool written;
    } const cases[] = {{1, true}, {5, true}, {6, false}, {9, false}, {-1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        ovsvc::CaptureSink capture;
        o.traceDump(wvcore_svc_handle, "caller/file", 42, 3, c.level, "prefix ");
        const auto records = capture.records();
        if (!c.written) {
            EXPECT_TRUE(records.empty());
            continue;
        }
        ASSERT_EQ(records.size(), 1u);
        const auto& r = records[0];
        EXPECT_TRUE(r.is_debug);
        EXPECT_EQ(r.handle, wvcore_svc_handle);
        EXPECT_EQ(r.file, "caller/file");
        EXPECT_EQ(r.line, 42);
        EXPECT_EQ(r.subcomp, 3u);
        EXPECT_EQ(r.level, static_cast<unsigned int>(c.level));
        EXPECT_EQ(r.text, Render(o, "prefix "));
        EXPECT_EQ(r.text.find("secret"), std::string::npos);
    }
    ovsvc::CaptureSink capture;
    o.traceDump(nullptr, "caller/file", 42, 3, 1, "no handle");
    EXPECT_EQ(capture.size(), 0u);
}

TEST(OVObjectTrace, PercentSignsArePrintedAsTheyStand) {
    objtest::DebugLevel configured(wvcore_svc_handle, 3, 9);
    OVObject o("%s%n%d");
    o.addStringValue("v%x", "%n and %s and %%", nullptr);
    ovsvc::CaptureSink capture;
    o.traceDump(wvcore_svc_handle, "f", 1, 3, 9, "50% of %s: ");
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, Render(o, "50% of %s: "));
    EXPECT_NE(records[0].text.find("%n and %s and %%"), std::string::npos);
    EXPECT_EQ(records[0].text.rfind("50% of %s: ", 0), 0u);
}

// A capture sink that fails the first record it sees, as a broken log route would, and
// records the rest.
struct FailingSink {
    static void Receive(void* context, const ov_svc_record_t* record) {
        auto* self = static_cast<FailingSink*>(context);
        if (!self->failed) {
            self->failed = true;
            throw std::runtime_error("log route broken");
        }
        self->texts.push_back(record->text);
        self->files.push_back(record->file);
        self->formats.push_back(record->format);
        self->handles.push_back(record->handle);
    }
    bool failed = false;
    Strings texts, files, formats;
    std::vector<dce_svc_handle_t> handles;
};

TEST(OVObjectTrace, AFailingWriteIsReportedAndSwallowed) {
    objtest::DebugLevel configured(wvcore_svc_handle, 3, 9);
    for (unsigned int rasLevel : {9u, 8u}) {
        SCOPED_TRACE(rasLevel);
        objtest::DebugLevel ras(ov_ras_svc_handle, 3, rasLevel);
        OVObject o("o");
        const MapContent before = ContentOf(o.map);
        FailingSink sink;
        ov_svc_capture_fn previous = nullptr;
        void* previousContext = nullptr;
        ov_svc_get_capture(&previous, &previousContext);
        ov_svc_set_capture(&FailingSink::Receive, &sink);
        EXPECT_NO_THROW(o.traceDump(wvcore_svc_handle, "caller/file", 7, 3, 9, "pre"));
        ov_svc_set_capture(previous, previousContext);

        EXPECT_TRUE(sink.failed);
        EXPECT_EQ(ContentOf(o.map), before);
        size_t next = 0;
        if (rasLevel == 9) {
            ASSERT_GE(sink.texts.size(), 1u);
            EXPECT_EQ(sink.handles[0], ov_ras_svc_handle);
            EXPECT_EQ(sink.files[0], "src/WVCore/OVObject");
            EXPECT_EQ(sink.formats[0], "%s Exception caught. \n");
            EXPECT_EQ(sink.texts[0], "Unspecified Exception caught. \n");
            next = 1;
        }
        ASSERT_EQ(sink.texts.size(), next + 1);
        EXPECT_EQ(sink.handles[next], wvcore_svc_handle);
        EXPECT_EQ(sink.files[next], "caller/file");
        EXPECT_EQ(sink.formats[next], "Bad textPrefix, %s");
        EXPECT_EQ(sink.texts[next], "Bad textPrefix, pre");
    }
}

}  // namespace
