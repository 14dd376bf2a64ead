// Serviceability capture for C++ tests.
//
// A CaptureSink installs itself as the capture sink of ovsvc/capture.h for its lifetime,
// copies every record into a CapturedRecord and puts back the sink that was installed
// before it when destroyed.
//
//   ovsvc::CaptureSink capture;
//   code_under_test();
//   auto records = capture.withMsgid(0x1354A0C3);
//   ASSERT_EQ(records.size(), 1u);
//   EXPECT_EQ(records[0].inserts[0], "/tmp/bad.conf");
//
// Safe for concurrent logging; the accessors return copies. Nested sinks must be destroyed in
// the reverse order of their creation (as scopes do).
#ifndef OVSVC_CAPTURE_HPP
#define OVSVC_CAPTURE_HPP

#include <mutex>
#include <string>
#include <vector>

#include "ovsvc/capture.h"

namespace ovsvc {

struct CapturedRecord {
    dce_svc_handle_t handle = nullptr;
    std::string component;
    std::string subcomp_name;
    unsigned int subcomp = 0;
    unsigned int severity = 0;
    unsigned int attributes = 0;
    bool is_debug = false;
    unsigned int level = 0;
    unsigned int msgid = 0;
    bool utf8 = false;
    std::string file;
    int line = 0;
    std::string format;
    std::vector<std::string> inserts;
    std::string text;
    std::string line_text;
};

class CaptureSink {
public:
    CaptureSink() {
        ov_svc_get_capture(&previous_fn_, &previous_context_);
        ov_svc_set_capture(&CaptureSink::Receive, this);
    }
    ~CaptureSink() { ov_svc_set_capture(previous_fn_, previous_context_); }
    CaptureSink(const CaptureSink&) = delete;
    CaptureSink& operator=(const CaptureSink&) = delete;

    std::vector<CapturedRecord> records() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return records_;
    }
    std::vector<CapturedRecord> withMsgid(unsigned int msgid) const {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<CapturedRecord> out;
        for (const auto& r : records_)
            if (!r.is_debug && r.msgid == msgid) out.push_back(r);
        return out;
    }
    std::vector<CapturedRecord> debugRecords() const {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<CapturedRecord> out;
        for (const auto& r : records_)
            if (r.is_debug) out.push_back(r);
        return out;
    }
    size_t size() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return records_.size();
    }
    void clear() {
        std::lock_guard<std::mutex> guard(mutex_);
        records_.clear();
    }

private:
    static void Receive(void* context, const ov_svc_record_t* r) {
        auto* self = static_cast<CaptureSink*>(context);
        CapturedRecord c;
        c.handle = r->handle;
        c.component = r->component;
        c.subcomp_name = r->subcomp_name;
        c.subcomp = r->subcomp;
        c.severity = r->severity;
        c.attributes = r->attributes;
        c.is_debug = r->is_debug != 0;
        c.level = r->level;
        c.msgid = r->msgid;
        c.utf8 = r->utf8 != 0;
        c.file = r->file;
        c.line = r->line;
        c.format = r->format;
        c.inserts.assign(r->inserts, r->inserts + r->insert_count);
        c.text = r->text;
        c.line_text = r->line_text;
        std::lock_guard<std::mutex> guard(self->mutex_);
        self->records_.push_back(std::move(c));
    }

    mutable std::mutex mutex_;
    std::vector<CapturedRecord> records_;
    ov_svc_capture_fn previous_fn_ = nullptr;
    void* previous_context_ = nullptr;
};

}  // namespace ovsvc

#endif  // OVSVC_CAPTURE_HPP
