// The installed message service and the library's default service.
#include <ovz/message_service.h>

#include <pthread.h>

#include <atomic>
#include <new>
#include <string>

#include <ovsvc/svc.h>

namespace {

// The source name of this unit's records: the unit's path without its src/ directory and
// suffix (exceptions thrown elsewhere in the library name their file through __FILE__).
constexpr char kSourceFile[] = "platform/ovz/message_service";

// Fills "%1".."%6" of `text` with the inserts; "%%" is one "%", any other "%" stays.
template <class S>
std::string fill(const char* text, const S* const (&inserts)[6]) {
    std::string out;
    for (const char* p = text ? text : ""; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] >= '1' && p[1] <= '6') {
            const S* s = inserts[p[1] - '1'];
            if (s != nullptr) out += s->c_str();
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

unsigned int severityOf(int severity) {
    switch (severity) {
        case OV_SVC_FATAL:
        case OV_SVC_ERROR:
        case OV_SVC_WARNING:
        case OV_SVC_NOTICE:
            return static_cast<unsigned int>(severity);
        default:
            return OV_SVC_NOTICE;
    }
}

class DefaultMessageService final : public ZMessageService_6_0 {
public:
    int outputMessage(const char* text, int msgid, int severity, int subcomp,
                      const ZLCString_6_0* s1, const ZLCString_6_0* s2, const ZLCString_6_0* s3,
                      const ZLCString_6_0* s4, const ZLCString_6_0* s5,
                      const ZLCString_6_0* s6) const override {
        const ZLCString_6_0* const inserts[6] = {s1, s2, s3, s4, s5, s6};
        std::string filled = fill(text, inserts);
        return ov_svc_printf_withfile(ovz_svc_handle, kSourceFile, __LINE__, "%s",
                                      static_cast<unsigned int>(subcomp), severityOf(severity),
                                      static_cast<unsigned int>(msgid), filled.c_str());
    }

    int outputMessageUTF8(const char* text, int msgid, int severity, int subcomp,
                          const ZUTF8String_6_0* s1, const ZUTF8String_6_0* s2,
                          const ZUTF8String_6_0* s3, const ZUTF8String_6_0* s4,
                          const ZUTF8String_6_0* s5, const ZUTF8String_6_0* s6) const override {
        const ZUTF8String_6_0* const inserts[6] = {s1, s2, s3, s4, s5, s6};
        std::string filled = fill(text, inserts);
        return ov_svc_printf_cs_withfile(ovz_svc_handle, ov_svc_utf8_cs, kSourceFile, __LINE__,
                                         "%s", static_cast<unsigned int>(subcomp),
                                         severityOf(severity), static_cast<unsigned int>(msgid),
                                         filled.c_str());
    }

    int outputException(ZException_6_0& exception) const override {
        return exception.reportTo(*this);
    }

    int outputException(const ZZException_6_0* record, va_list) const override {
        if (record == nullptr) return -1;
        const char* text = record->text();
        const char* file = record->sourceFile();
        return ov_svc_printf_withfile(ovz_svc_handle, kSourceFile, __LINE__, "%s%s%d%d", 0u,
                                      OV_SVC_FATAL, OVZ_EXCEPTION_MSGID, text ? text : "",
                                      file ? file : "", record->sourceLine(), record->kind());
    }
};

std::atomic<ZMessageService_6_0*> installed{nullptr};

// Made on first use, in static storage, and never destroyed: reports may come from other
// objects' destructors at exit, and an exception reported because memory ran out must find
// its service without any.
alignas(DefaultMessageService) unsigned char defaultServiceStorage[sizeof(DefaultMessageService)];

}  // namespace

ZMessageService_6_0::~ZMessageService_6_0() = default;

ZMessageService_6_0* ZMessageService_6_0::defaultMessageService() {
    static ZMessageService_6_0* const service = new (defaultServiceStorage) DefaultMessageService();
    return service;
}

void ZMessageService_6_0::setMessageService(ZMessageService_6_0* service) {
    installed.store(service, std::memory_order_release);
}

ZMessageService_6_0* ZMessageService_6_0::messageService() {
    ZMessageService_6_0* service = installed.load(std::memory_order_acquire);
    return service != nullptr ? service : defaultMessageService();
}
