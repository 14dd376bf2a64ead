// Records: numbered messages and debug lines, assembled into one line each and handed to
// the capture sink and to the route of their severity.
#include <sys/time.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>
#include <vector>
#include <strings.h>

#include "internal.h"
#include "ovmsg/msg.h"
#include "ovsvc/capture.h"

using ovsvc_internal::Insert;

extern "C" OVSVC_EXPORT const char* const ov_svc_utf8_cs = "UTF-8";

namespace {

struct Capture {
    std::mutex mutex;  // held while the callback runs, so that removing it waits for it
    std::atomic<bool> installed{false};
    ov_svc_capture_fn fn = nullptr;
    void* context = nullptr;
};

// The program name: made on first use and never destroyed, since records may be written
// during exit. A function-local static rather than pthread_once, so that running out of
// memory here retries at the next use instead of unwinding through the C library (see
// theTables in the message library).
struct State {
    std::mutex nameMutex;
    std::string progName{program_invocation_short_name};
};

State& theState() {
    static State* const state = new State;
    return *state;
}

std::mutex& nameMutex() { return theState().nameMutex; }
std::string& progName() { return theState().progName; }

// The capture sink lives in static storage, so that installing one never needs memory; never
// destroyed either.
alignas(Capture) unsigned char captureStorage[sizeof(Capture)];

Capture& captureState() {
    static Capture* const capture = new (captureStorage) Capture;
    return *capture;
}

unsigned severityOf(unsigned attributes) {
    switch (attributes & 0xF0u) {
        case OV_SVC_FATAL:
        case OV_SVC_ERROR:
        case OV_SVC_WARNING:
        case OV_SVC_NOTICE:
            return attributes & 0xF0u;
        case 0x50u:  // verbose notice
            return OV_SVC_NOTICE;
        default:
            return OV_SVC_ERROR;
    }
}

const char* severityName(unsigned severity) {
    switch (severity) {
        case OV_SVC_FATAL:
            return "FATAL";
        case OV_SVC_ERROR:
            return "ERROR";
        case OV_SVC_WARNING:
            return "WARNING";
        case OV_SVC_NOTICE:
            return "NOTICE";
        default:
            return "DEBUG";
    }
}

bool isUtf8(const char* codeset) {
    return codeset && (codeset == ov_svc_utf8_cs || strcasecmp(codeset, "UTF-8") == 0 ||
                       strcasecmp(codeset, "UTF8") == 0);
}

// Trailing line breaks and blanks are dropped (debug formats often end in " \n"); inner line
// breaks continue on a line that starts with a tab, so every record begins a line of its own.
std::string oneRecordText(const std::string& text) {
    size_t end = text.find_last_not_of(" \t\r\n");
    std::string out;
    if (end == std::string::npos) return out;
    for (size_t i = 0; i <= end; ++i) {
        out += text[i];
        if (text[i] == '\n') out += '\t';
    }
    return out;
}

// The time stamp of a record, such as "2026-03-01 12:00:00.042+0100", into `out`.
constexpr size_t kStampSize = 128;
void formatTimestamp(char (&out)[kStampSize]) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tm);
    char zone[16];
    std::strftime(zone, sizeof zone, "%z", &tm);
    std::snprintf(out, sizeof out, "%s.%03ld%s", date, static_cast<long>(tv.tv_usec / 1000), zone);
}

std::string timestamp() {
    char out[kStampSize];
    formatTimestamp(out);
    return out;
}

struct Record {
    dce_svc_handle_t handle = nullptr;
    unsigned subcomp = 0;
    unsigned severity = OV_SVC_DEBUG;
    unsigned attributes = 0;
    bool is_debug = false;
    unsigned level = 0;
    unsigned msgid = 0;
    bool utf8 = false;
    const char* file = "";
    int line = 0;
    const char* format = "";
    std::vector<Insert> inserts;
    std::string text;
    bool stderr_only = false;  // a warning about the settings: standard error, not a route
};

// The record's line after its time stamp: program, process, severity, component, number,
// source place and text.
std::string recordBody(const Record& r, const char* component, const char* subcomp_name) {
    std::string severity = severityName(r.severity);
    if (r.is_debug) severity += std::to_string(r.level);
    std::string where = component;
    if (*subcomp_name) where += std::string(".") + subcomp_name;
    if (where.empty()) where = "-";
    std::string prog;
    {
        std::lock_guard<std::mutex> guard(nameMutex());
        prog = progName();
    }
    char head[96];
    std::snprintf(head, sizeof head, "[%ld] ", static_cast<long>(getpid()));
    char number[16];
    std::snprintf(number, sizeof number, "0x%08x", r.msgid);
    return prog + head + severity + " " + where + " " + number + " " + (*r.file ? r.file : "-") +
           ":" + std::to_string(r.line) + " " + oneRecordText(r.text);
}

// Hands the record to the capture sink, when one is installed.
void deliverToCapture(const Record& r, const char* component, const char* subcomp_name,
                      const std::string& line, bool& delivered) {
    Capture& cap = captureState();
    if (!cap.installed.load(std::memory_order_acquire)) return;
    std::vector<std::string> texts;
    texts.reserve(r.inserts.size());
    for (const Insert& in : r.inserts) texts.push_back(in.natural());
    std::vector<const char*> ptrs;
    for (const std::string& t : texts) ptrs.push_back(t.c_str());
    ptrs.push_back(nullptr);
    ov_svc_record_t rec;
    rec.handle = r.handle;
    rec.component = component;
    rec.subcomp_name = subcomp_name;
    rec.subcomp = r.subcomp;
    rec.severity = r.severity;
    rec.attributes = r.attributes;
    rec.is_debug = r.is_debug ? 1 : 0;
    rec.level = r.level;
    rec.msgid = r.msgid;
    rec.utf8 = r.utf8 ? 1 : 0;
    rec.file = r.file;
    rec.line = r.line;
    rec.format = r.format;
    rec.inserts = ptrs.data();
    rec.insert_count = static_cast<unsigned>(texts.size());
    rec.text = r.text.c_str();
    rec.line_text = line.c_str();
    std::lock_guard<std::mutex> guard(cap.mutex);
    delivered = true;
    if (cap.fn) cap.fn(cap.context, &rec);
}

// `delivered` becomes true once the capture sink has had the record (or there is none), so
// that a record that runs out of memory afterwards is not captured twice.
int emit(Record& r, bool& delivered) {
    const int saved_errno = errno;  // logging must not disturb the caller's errno
    const char* component = r.handle && r.handle->component ? r.handle->component : "";
    const char* subcomp_name = ovsvc_internal::subcompName(r.handle, r.subcomp);
    const std::string body = recordBody(r, component, subcomp_name);
    const std::string stamp = timestamp();
    if (captureState().installed.load(std::memory_order_acquire))
        deliverToCapture(r, component, subcomp_name, stamp + " " + body, delivered);
    else
        delivered = true;
    int result = r.stderr_only ? ovsvc_internal::writeToStderr(r.severity, stamp, body)
                               : ovsvc_internal::writeRecord(r.severity, stamp, body);
    errno = saved_errno;
    return result;
}

// ---- Records when memory has run out ------------------------------------------------------
//
// Building a record allocates: its inserts, its text, its line. When that fails the record is
// still written, shorter and assembled in fixed buffers: without inserts, with the message's
// compiled-in default text when that takes no inserts, else "message 0x%08x". Above all this
// keeps the out-of-memory message from being lost for want of memory.

// The program name into `out`; the name the process was started with while the name's state
// cannot be made.
void copyProgName(char* out, size_t size) {
    const char* name = program_invocation_short_name;
    try {
        State& state = theState();
        std::lock_guard<std::mutex> guard(state.nameMutex);
        std::snprintf(out, size, "%s", state.progName.c_str());
        return;
    } catch (const std::exception&) {
    }
    std::snprintf(out, size, "%s", name);
}

int emitShort(dce_svc_handle_t handle, bool utf8, const char* file, int line, const char* format,
              unsigned subcomp, unsigned attributes, unsigned msgid, bool delivered) {
    const unsigned severity = severityOf(attributes);
    const char* component = handle && handle->component ? handle->component : "";
    const char* subcomp_name = ovsvc_internal::subcompName(handle, subcomp);
    const char* text = ov_msg_get_default_msg(msgid, nullptr);
    char fallback[32];
    if (!text || std::strchr(text, '%')) {
        std::snprintf(fallback, sizeof fallback, "message 0x%08x", msgid);
        text = fallback;
    }
    char prog[64];
    copyProgName(prog, sizeof prog);
    char body[1024];
    std::snprintf(body, sizeof body, "%s[%ld] %s %s%s%s 0x%08x %s:%d %s", prog,
                  static_cast<long>(getpid()), severityName(severity),
                  *component || *subcomp_name ? component : "-", *subcomp_name ? "." : "",
                  subcomp_name, msgid, file && *file ? file : "-", line, text);
    char stamp[kStampSize];
    formatTimestamp(stamp);

    Capture& cap = captureState();
    if (!delivered && cap.installed.load(std::memory_order_acquire)) {
        char line_text[kStampSize + sizeof body];
        std::snprintf(line_text, sizeof line_text, "%s %s", stamp, body);
        static const char* const no_inserts[] = {nullptr};
        ov_svc_record_t rec = {};
        rec.handle = handle;
        rec.component = component;
        rec.subcomp_name = subcomp_name;
        rec.subcomp = subcomp;
        rec.severity = severity;
        rec.attributes = attributes;
        rec.msgid = msgid;
        rec.utf8 = utf8 ? 1 : 0;
        rec.file = file ? file : "";
        rec.line = line;
        rec.format = format ? format : "";
        rec.inserts = no_inserts;
        rec.insert_count = 0;
        rec.text = text;
        rec.line_text = line_text;
        std::lock_guard<std::mutex> guard(cap.mutex);
        if (cap.fn) cap.fn(cap.context, &rec);
    }
    return ovsvc_internal::writeShortRecord(severity, stamp, body);
}

// The fields that numbered messages and debug lines share, with the inserts that `format`
// names pulled from a copy of `args` (the caller may still read `args` itself).
Record begin(dce_svc_handle_t handle, bool utf8, const char* file, int line, unsigned subcomp,
             const char* format, va_list args) {
    Record r;
    r.handle = handle;
    r.subcomp = subcomp;
    r.utf8 = utf8;
    r.file = file ? file : "";
    r.line = line;
    r.format = format ? format : "";
    va_list copy;
    va_copy(copy, args);
    r.inserts = ovsvc_internal::pullInserts(format, copy);
    va_end(copy);
    return r;
}

int printMessage(dce_svc_handle_t handle, const char* codeset, const char* file, int line,
                 const char* format, unsigned subcomp, unsigned attributes, unsigned msgid,
                 va_list args) {
    const int saved_errno = errno;
    bool delivered = false;
    int result;
    try {
        Record r = begin(handle, isUtf8(codeset), file, line, subcomp, format, args);
        r.severity = severityOf(attributes);
        r.attributes = attributes;
        r.msgid = msgid;
        unsigned status = 0;
        const char* text =
            r.utf8 ? ov_msg_get_msg_utf8(msgid, &status) : ov_msg_get_msg(msgid, &status);
        r.text = text ? ovsvc_internal::fillText(text, r.inserts)
                      : ovsvc_internal::fallbackText(msgid, r.inserts);
        result = emit(r, delivered);
    } catch (const std::bad_alloc&) {
        result = emitShort(handle, isUtf8(codeset), file, line, format, subcomp, attributes, msgid,
                           delivered);
    }
    errno = saved_errno;
    return result;
}

int printWarning(const char* file, int line, unsigned msgid, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Record r = begin(bas_svc_handle, false, file, line, 0, format, args);
    va_end(args);
    r.severity = OV_SVC_WARNING;
    r.attributes = OV_SVC_WARNING;
    r.msgid = msgid;
    r.stderr_only = true;
    unsigned status = 0;
    const char* text = ov_msg_get_msg(msgid, &status);
    r.text = text ? ovsvc_internal::fillText(text, r.inserts)
                  : ovsvc_internal::fallbackText(msgid, r.inserts);
    bool delivered = false;
    return emit(r, delivered);
}

void printDebugLine(dce_svc_handle_t handle, bool utf8, const char* file, int line,
                    unsigned subcomp, unsigned level, const char* format, va_list args) {
    Record r = begin(handle, utf8, file, line, subcomp, format, args);
    r.is_debug = true;
    r.level = level;
    if (format) {
        // The format is the program's own (a literal at every call site), so printf may have it.
        va_list again;
        va_copy(again, args);
        char small[512];
        int n = std::vsnprintf(small, sizeof small, format, again);
        va_end(again);
        if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
            r.text.assign(small, static_cast<size_t>(n));
        } else if (n >= 0) {
            std::vector<char> big(static_cast<size_t>(n) + 1);
            va_copy(again, args);
            std::vsnprintf(big.data(), big.size(), format, again);
            va_end(again);
            r.text.assign(big.data(), static_cast<size_t>(n));
        }
    }
    bool delivered = false;
    emit(r, delivered);
}

// A debug line that cannot be built for want of memory is dropped.
void printDebug(dce_svc_handle_t handle, bool utf8, const char* file, int line, unsigned subcomp,
                unsigned level, const char* format, va_list args) {
    if (!handle || ov_svc_debug_level(handle, subcomp) < level) return;
    const int saved_errno = errno;
    try {
        printDebugLine(handle, utf8, file, line, subcomp, level, format, args);
    } catch (const std::bad_alloc&) {
    }
    errno = saved_errno;
}

}  // namespace

void ovsvc_internal::warnOnStderr(const char* file, int line, unsigned msgid, const char* s1,
                                  const char* s2, const char* s3) {
    if (s3)
        printWarning(file, line, msgid, "%s%s%s", s1, s2, s3);
    else if (s2)
        printWarning(file, line, msgid, "%s%s", s1, s2);
    else
        printWarning(file, line, msgid, "%s", s1);
}

extern "C" {

void ov_svc_set_progname(const char* name, unsigned int* status) {
    if (!name || !*name) {
        if (status) *status = OV_SVC_S_BAD_PARAM;
        return;
    }
    try {
        std::lock_guard<std::mutex> guard(nameMutex());
        progName() = name;
    } catch (const std::bad_alloc&) {
        if (status) *status = OV_SVC_S_NO_MEMORY;
        return;
    }
    if (status) *status = OV_SVC_S_OK;
}

void ov_svc_init(int flags, unsigned int* status) {
    unsigned result = OV_SVC_S_BAD_PARAM;
    if (flags == 0) {
        ov_msg_load_defaults(&result);
        try {
            ovsvc_internal::initRoutesFromEnvironment();
            ovsvc_internal::checkDebugEnvironment();
        } catch (const std::bad_alloc&) {
            // Either is tried again at the next record or debug check.
            if (result == OV_SVC_S_OK) result = OV_SVC_S_NO_MEMORY;
        }
    }
    if (status) *status = result;
}

int ov_svc_printf_withfile(dce_svc_handle_t handle, const char* file, int line, const char* format,
                           unsigned int subcomp, unsigned int attributes, unsigned int msgid, ...) {
    va_list args;
    va_start(args, msgid);
    int result =
        printMessage(handle, nullptr, file, line, format, subcomp, attributes, msgid, args);
    va_end(args);
    return result;
}

int ov_svc_vprintf_withfile(dce_svc_handle_t handle, const char* file, int line, const char* format,
                            unsigned int subcomp, unsigned int attributes, unsigned int msgid,
                            va_list args) {
    return printMessage(handle, nullptr, file, line, format, subcomp, attributes, msgid, args);
}

int ov_svc_printf_cs_withfile(dce_svc_handle_t handle, const char* codeset, const char* file,
                              int line, const char* format, unsigned int subcomp,
                              unsigned int attributes, unsigned int msgid, ...) {
    va_list args;
    va_start(args, msgid);
    int result =
        printMessage(handle, codeset, file, line, format, subcomp, attributes, msgid, args);
    va_end(args);
    return result;
}

void ov_svc__debug_withfile(dce_svc_handle_t handle, const char* file, int line,
                            unsigned int subcomp, unsigned int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    printDebug(handle, false, file, line, subcomp, level, format, args);
    va_end(args);
}

void ov_svc__debug_utf8_withfile(dce_svc_handle_t handle, const char* file, int line,
                                 unsigned int subcomp, unsigned int level, const char* format,
                                 ...) {
    va_list args;
    va_start(args, format);
    printDebug(handle, true, file, line, subcomp, level, format, args);
    va_end(args);
}

void ov_svc_set_capture(ov_svc_capture_fn fn, void* context) {
    Capture& cap = captureState();
    std::lock_guard<std::mutex> guard(cap.mutex);
    cap.fn = fn;
    cap.context = context;
    cap.installed.store(fn != nullptr, std::memory_order_release);
}

void ov_svc_get_capture(ov_svc_capture_fn* fn, void** context) {
    Capture& cap = captureState();
    std::lock_guard<std::mutex> guard(cap.mutex);
    if (fn) *fn = cap.fn;
    if (context) *context = cap.context;
}

}  // extern "C"
