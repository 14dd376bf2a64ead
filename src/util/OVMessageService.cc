// OVMessageService: the product's message service for the object library. Start-up
// (getpath.cc) installs the one instance of the process.

#include <ovutil/OVMessageService.h>

#include <ovmsg/messages.h>
#include <ovsvc/svc.h>

namespace {

// The records of the message service carry the source name of start-up, which installs the
// service, so that a record names the unit an administrator meets first in the product's
// documentation; their line is the line of the call in this file.
constexpr char kSourceFile[] = "src/util/getpath";

// The kind table of the exception messages: message number, attributes and insert format of
// every kind that has its own message. Kind 0 and 23 have none. The number and the
// attributes follow from the kind; the insert format is the one messages.def declares for
// that number.
struct KindRow {
    unsigned int msgid;
    unsigned int attributes;
    const char* format;
};

constexpr int kLastKind = 54;

struct DeclaredInserts {
    unsigned int msgid;
    const char* format;
};
constexpr DeclaredInserts kDeclaredInserts[] = {OV_MSG_INSERTS_TABLE};

constexpr const char* declaredInserts(unsigned int msgid) {
    for (const DeclaredInserts& d : kDeclaredInserts)
        if (d.msgid == msgid) return d.format;
    return nullptr;
}

constexpr unsigned int kindMessage(int kind) {
    if (kind >= 1 && kind <= 22) return OV_MSG_OVZ_EXCEPTION + kind;
    if (kind >= 24 && kind <= kLastKind) return OV_MSG_OVZ_EXCEPTION_KIND_24 + (kind - 24);
    return 0;
}

constexpr KindRow kindRow(int kind) {
    const unsigned int msgid = kindMessage(kind);
    if (msgid == 0) return {0, 0, nullptr};
    return {msgid, kind >= 53 ? OV_SVC_ERROR : OV_SVC_FATAL, declaredInserts(msgid)};
}

// Every kind that has a message has its inserts declared: the build fails otherwise.
constexpr bool everyKindDeclared() {
    for (int kind = 1; kind <= kLastKind; ++kind)
        if (kindMessage(kind) != 0 && declaredInserts(kindMessage(kind)) == nullptr) return false;
    return true;
}
static_assert(everyKindDeclared(), "messages.def declares no inserts for an exception kind");

}  // namespace

int OVMessageService::outputMessage(const char* text, int msgid, int severity, int subcomp,
                                    const ZLCString_6_0* s1, const ZLCString_6_0* s2,
                                    const ZLCString_6_0* s3, const ZLCString_6_0* s4,
                                    const ZLCString_6_0* s5, const ZLCString_6_0* s6) const {
    return ZMessageService_6_0::defaultMessageService()->outputMessage(
        text, msgid, severity, subcomp, s1, s2, s3, s4, s5, s6);
}

int OVMessageService::outputMessageUTF8(const char* text, int msgid, int severity, int subcomp,
                                        const ZUTF8String_6_0* s1, const ZUTF8String_6_0* s2,
                                        const ZUTF8String_6_0* s3, const ZUTF8String_6_0* s4,
                                        const ZUTF8String_6_0* s5,
                                        const ZUTF8String_6_0* s6) const {
    return ZMessageService_6_0::defaultMessageService()->outputMessageUTF8(
        text, msgid, severity, subcomp, s1, s2, s3, s4, s5, s6);
}

int OVMessageService::outputException(ZException_6_0& exception) const {
    return exception.report();
}

int OVMessageService::outputException(const ZZException_6_0* record, va_list inserts) const {
    // Compared as unsigned, so that negative kinds fall out of the table too.
    unsigned int kind = static_cast<unsigned int>(record->kind());
    KindRow row = kind <= static_cast<unsigned int>(kLastKind) ? kindRow(static_cast<int>(kind))
                                                               : KindRow{0, 0, nullptr};
    if (row.format == nullptr) return printDefault(record);
    return ov_svc_vprintf_withfile(ovz_svc_handle, record->sourceFile(), record->sourceLine(),
                                   row.format, 0, row.attributes, row.msgid, inserts);
}

OVMessageService::~OVMessageService() = default;

int OVMessageService::printDefault(const ZZException_6_0* record) const {
    // The generic message names four inserts: the catalog text shows the kind code as the
    // fourth, so an exception without a message of its own can still be told apart.
    return ov_svc_printf_withfile(ovz_svc_handle, kSourceFile, __LINE__, "%s%s%d%d", 0,
                                  OV_SVC_FATAL, OV_MSG_OVZ_EXCEPTION, record->text(),
                                  record->sourceFile(), record->sourceLine(), record->kind());
}
